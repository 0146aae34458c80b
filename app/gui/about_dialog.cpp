#include "app/gui/about_dialog.h"

#include "app/gui/toolbar_images.h"

#include <QLabel>
#include <QPushButton>

namespace calvora {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Calvora"));
    setFixedSize(DialogRect(0, 0, 246, 54).size());
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(ApplicationIcon().pixmap(32, 32));
    icon->setGeometry(QRect(DialogRect(11, 17, 0, 0).topLeft(), QSize(32, 32)));
    auto* text = new QLabel(QStringLiteral("Calvora V2.1.0"), this);
    text->setObjectName(QStringLiteral("version"));
    text->move(DialogRect(40, 10, 0, 0).topLeft());
    text->adjustSize();
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    ok->setGeometry(DialogRect(189, 7, 50, 16));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

QRect AboutDialog::DialogRect(int x, int y, int width, int height) const {
    const QFontMetrics metrics(font());
    const int baseX = metrics.averageCharWidth();
    const int baseY = metrics.height();
    return {x * baseX / 4, y * baseY / 8, width * baseX / 4, height * baseY / 8};
}

} // namespace calvora
