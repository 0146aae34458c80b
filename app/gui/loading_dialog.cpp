#include "app/gui/loading_dialog.h"

#include <QProgressBar>

namespace calvora {

LoadingDialog::LoadingDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      bar_(new QProgressBar(this)) {
    // A caption with a close box only: the window has a fixed size, and closing it gives the download up.
    setWindowTitle(QStringLiteral("Loading..."));
    setModal(false);
    setFixedSize(DialogRect(0, 0, 413, 22).size());
    bar_->setObjectName(QStringLiteral("progress%1").arg(kProgressBarId));
    bar_->setGeometry(DialogRect(2, 3, 408, 16));
    bar_->setTextVisible(false);
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
