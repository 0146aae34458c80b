// A docking bar holding pages: child windows shown one at a time, chosen by tabs, under a caption with the
// active page's title, a close button and a pin button.
#pragma once

#include "docking/gui/sizing_dock_bar.h"

#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

namespace calvora {

// One page. The item does not own the window: removing a page never deletes it (as a Qt child it goes with
// whichever widget holds it when the frame is destroyed).
struct DockPage {
    QPointer<QWidget> window;
    QString title;
    QIcon icon;
    int tabWidth = 0;
};

// Title text width + 9, plus 18 with an icon.
int PageTabWidth(int titleTextWidth, bool hasIcon);

// The caption title as drawn in a strip `stripWidth` wide: a title wider than the strip minus 30 loses its
// last two characters up to ten times while it is still too wide; if anything was dropped, two more go and
// "..." is appended.
QString TruncateCaption(const QString& title, int stripWidth,
                        const std::function<int(const QString&)>& textWidth);

class DockPageBar;

// The caption row drawn in place of the dock widget's title bar. Presses outside the buttons are ignored so
// that QDockWidget drags, floats and re-docks the bar as usual.
class DockPageCaption : public QWidget {
    Q_OBJECT
public:
    explicit DockPageCaption(DockPageBar* bar);

    QRect stripRect() const;
    QRect closeButtonRect() const;
    QRect pinButtonRect() const;
    QString displayedTitle() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    enum class Button { None, Close, Pin };
    Button ButtonAt(QPoint pos) const;

    DockPageBar* bar_;
    Button pressed_ = Button::None;
    Button hot_ = Button::None;
};

// The tabs along the bottom of the bar, one per page, shown while the bar holds more than one page.
class DockPageTabs : public QWidget {
    Q_OBJECT
public:
    explicit DockPageTabs(DockPageBar* bar);
    int TabAt(QPoint pos) const;
    QRect TabRect(int index) const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    DockPageBar* bar_;
};

class DockPageBar : public SizingDockBar {
    Q_OBJECT
public:
    static constexpr int kCaptionHeight = 20;

    explicit DockPageBar(QWidget* parent = nullptr);
    ~DockPageBar() override;

    // Makes `window` a child of the bar, sized to the page area and hidden, appends its page, and activates
    // page 0 when none is active. Returns false for a null window.
    bool AddPage(QWidget* window, const QString& title, const QIcon& icon = {});
    // Does nothing when `index` is already active or out of range.
    void ActivatePage(int index);
    // Hides the active page's window and hands its item to the caller; the window itself stays. Returns null
    // when no page is active.
    std::unique_ptr<DockPage> RemoveActivePage();

    int pageCount() const { return static_cast<int>(pages_.size()); }
    int activePageIndex() const { return activePage_; }
    const DockPage& page(int index) const { return *pages_.at(static_cast<size_t>(index)); }
    QString captionText() const { return caption_; }
    QFont captionFont() const { return captionFont_; }
    // The bar is drawn active while the focus is inside it.
    bool isActive() const { return active_; }

    DockPageCaption* caption() const { return captionBar_; }
    DockPageTabs* tabs() const { return tabs_; }
    QWidget* pageArea() const { return pageArea_; }

    // What the caption buttons do; the frame's View › Instrument command shares HideBar.
    void HideBar();
    void RequestPin();

Q_SIGNALS:
    // The pin button asks the auto-hide frame to take the pages to its strip.
    void pinRequested(calvora::DockPageBar* bar);
    void activePageChanged(int index);

protected:
    void PlacementChanged() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void LayoutPages();
    void UpdateActive();

    std::vector<std::unique_ptr<DockPage>> pages_;
    int activePage_ = -1;
    QString caption_;
    QFont captionFont_;
    bool active_ = false;
    DockPageCaption* captionBar_ = nullptr;
    QWidget* client_ = nullptr;
    QWidget* pageArea_ = nullptr;
    DockPageTabs* tabs_ = nullptr;
    QMetaObject::Connection focusConnection_;
};

// Draws the caption buttons: the close glyph and the pin, white when pressed or hot, black otherwise.
void DrawCloseButton(class QPainter& painter, const QRect& rect, bool pressedOrHot);
void DrawPinButton(class QPainter& painter, const QRect& rect, bool pressedOrHot);

} // namespace calvora
