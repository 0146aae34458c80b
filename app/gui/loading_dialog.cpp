#include "app/gui/loading_dialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace calvora {

LoadingDialog::LoadingDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      records_(new QLabel(this)), bar_(new QProgressBar(this)),
      cancel_(new QPushButton(QStringLiteral("Cancel"), this)) {
    // A caption with a close box: closing the window, like Cancel, gives the download up.
    setWindowTitle(QStringLiteral("Loading..."));
    setModal(false);
    records_->setObjectName(QStringLiteral("records"));
    bar_->setObjectName(QStringLiteral("progress%1").arg(kProgressBarId));
    bar_->setTextVisible(false);
    // The bar keeps its 408 x 16 dialog units; the record count above it and Cancel beside it say what the
    // bar alone did not: how far the download is, and that it can be stopped.
    bar_->setFixedSize(DialogRect(0, 0, 408, 16).size());
    connect(cancel_, &QPushButton::clicked, this, &LoadingDialog::reject);
    auto* grid = new QGridLayout(this);
    grid->addWidget(records_, 0, 0, 1, 2);
    grid->addWidget(bar_, 1, 0);
    grid->addWidget(cancel_, 1, 1);
    SetRecords(0, 0);
    setFixedSize(sizeHint());
}

void LoadingDialog::SetRecords(uint32_t arrived, uint32_t total) {
    records_->setText(QStringLiteral("Receiving the meter's log: %1 of %2").arg(arrived).arg(total));
}

QRect LoadingDialog::DialogRect(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return {x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8};
}

void LoadingDialog::PlaceOver(const QRect& clientArea) {
    const int w = width();
    const int h = height();
    move(clientArea.left() + clientArea.width() / 2 - w / 2, clientArea.top() + 4 * h);
}

void LoadingDialog::reject() {
    Q_EMIT closedByUser();
    QDialog::reject();
}

} // namespace calvora
