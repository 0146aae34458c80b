// The manual in a window of the program's own, for a desktop where no web browser would show it.
#pragma once

#include <QWidget>

class QTextBrowser;

namespace calvora {

// True when the desktop names a program for web pages: $BROWSER, the handler xdg-mime gives for text/html,
// or Debian's x-www-browser. Without one, xdg-open hands the manual to whatever claims HTML (a text editor
// with no terminal, say) and the user sees nothing.
bool DesktopHasBrowser();

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // Shows the manual at `path`; links within it stay in the window, others go to the desktop.
    explicit HelpWindow(const QString& path, QWidget* parent = nullptr);

    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

} // namespace calvora
