#include "app/gui/help_window.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace calvora {

bool DesktopHasBrowser() {
    if (!qEnvironmentVariableIsEmpty("BROWSER")) {
        return true;
    }
    const QString mime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (!mime.isEmpty()) {
        QProcess query;
        query.start(mime, {QStringLiteral("query"), QStringLiteral("default"), QStringLiteral("text/html")});
        if (query.waitForFinished(2000) && query.exitCode() == 0 &&
            !query.readAllStandardOutput().trimmed().isEmpty()) {
            return true;
        }
    }
    return !QStandardPaths::findExecutable(QStringLiteral("x-www-browser")).isEmpty();
}

HelpWindow::HelpWindow(const QString& path, QWidget* parent)
    : QWidget(parent, Qt::Window), browser_(new QTextBrowser(this)) {
    setObjectName(QStringLiteral("HelpWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    browser_->setOpenExternalLinks(false);
    browser_->setOpenLinks(true);
    // The manual's own pages and anchors stay here; a web address goes to whatever the desktop has.
    connect(browser_, &QTextBrowser::anchorClicked, this, [this](const QUrl& url) {
        if (!url.isLocalFile() && !url.isRelative()) {
            QDesktopServices::openUrl(url);
            browser_->setSource(browser_->source());
        }
    });
    connect(browser_, &QTextBrowser::sourceChanged, this,
            [this] { setWindowTitle(QStringLiteral("Calvora Help - %1").arg(browser_->documentTitle())); });
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
    setWindowTitle(QStringLiteral("Calvora Help - %1").arg(browser_->documentTitle()));
    const QScreen* screen = parent != nullptr ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize available = screen != nullptr ? screen->availableGeometry().size() : QSize(1024, 768);
    resize(std::min(900, available.width() * 3 / 4), available.height() * 3 / 4);
}

} // namespace calvora
