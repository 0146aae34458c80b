// Auto-hide: a page bar pinned away leaves its pages as tabs on a thin strip along its side of the frame;
// resting on or clicking a tab slides the page out over the frame, and leaving it slides it back.
#pragma once

#include "docking/gui/dock_page_bar.h"

#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>
#include <QToolBar>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace calvora {

// Strip control ids per side.
enum AutoHideBarId : int {
    kAutoHideTop = 59435,
    kAutoHideBottom = 59436,
    kAutoHideLeft = 59437,
    kAutoHideRight = 59438,
};

int AutoHideBarIdForSide(Qt::DockWidgetArea side);
// 24 pixels, 22 along the bottom edge.
int AutoHideBarThickness(Qt::DockWidgetArea side);

// Lengths of the items along a strip, from its start: 21 for an inactive item; 45 + title width + 24 for the
// active one (the only one showing its title).
std::vector<int> StripItemLengths(const std::vector<int>& titleWidths, int activeIndex);

// Where the mouse is and whether something holds it; the float window's leave poll asks these. Tests supply
// their own.
struct PointerProbe {
    std::function<QPoint()> globalPosition;
    std::function<bool()> dragging;
    std::function<bool()> captured;
    static PointerProbe System();
};

// The window a page slides out in.
class AutoHideFlyout : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSlideTimerIn = 1;
    static constexpr int kSlideTimerOut = 2;
    static constexpr int kLeaveTimer = 100;
    static constexpr int kStepMs = 50;
    static constexpr int kLeavePollMs = 400;
    static constexpr int kSlideMs = 300;
    static constexpr int kCaptionHeight = 20;

    AutoHideFlyout(Qt::DockWidgetArea side, QWidget* parent);
    ~AutoHideFlyout() override;

    // Shows `page` (not owned) in the window; the previous page is hidden.
    void SetPage(DockPage* page);
    DockPage* page() const { return page_; }
    // Forgets the page without touching its window, which has gone elsewhere.
    void ReleasePage();
    // The full rectangle in the parent's coordinates.
    void SetTargetRect(const QRect& rect);
    QRect targetRect() const { return target_; }

    // Starts sliding out (or in) over `durationMs`; a running slide stops first.
    void StartSlide(bool out, int durationMs = kSlideMs);
    // What the timers run; tests call them to drive a slide tick by tick.
    void SlideOutStep();
    void SlideInStep();
    void LeavePoll();
    // Hides at once, stopping every timer.
    void HideNow();

    int slidePosition() const { return position_; }
    int slideSteps() const { return steps_; }
    bool isSliding() const { return sliding_; }
    bool IsTimerRunning(int id) const;
    void SetPointerProbe(PointerProbe probe) { probe_ = std::move(probe); }

    QRect closeButtonRect() const;
    QRect pinButtonRect() const;
    QFont captionFont() const { return captionFont_; }
    // The full-size inner window that the slide clips; caption and buttons are drawn on it.
    QWidget* panel() const { return panel_; }

Q_SIGNALS:
    void pinClicked();
    void closeClicked();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows the first `shownSteps` of steps_ slices of the target, the part nearest the strip.
    void PlaceAtStep(int shownSteps);
    QMargins borderMargins() const;
    void LayoutPage();

    Qt::DockWidgetArea side_;
    DockPage* page_ = nullptr;
    QWidget* panel_ = nullptr;
    QRect target_;
    int position_ = 0;
    int steps_ = 6;
    bool sliding_ = false;
    QFont captionFont_;
    QTimer inTimer_;
    QTimer outTimer_;
    QTimer leaveTimer_;
    PointerProbe probe_;
    int pressedButton_ = 0;
};

// The strip along one side of the frame; one tab per hidden page.
class AutoHideStrip : public QToolBar {
    Q_OBJECT
public:
    static constexpr int kHoverMs = 400;

    AutoHideStrip(Qt::DockWidgetArea side, QMainWindow* frame);
    ~AutoHideStrip() override;

    Qt::DockWidgetArea side() const { return side_; }
    int controlId() const { return controlId_; }

    void AddItem(std::unique_ptr<DockPage> page, DockPageBar* owner, Qt::DockWidgetArea ownerSide,
                 QSize ownerSize);
    // Takes out every item that came from `owner`, in strip order.
    std::vector<std::unique_ptr<DockPage>> TakeItemsOf(const DockPageBar* owner);
    bool HoldsItemsOf(const DockPageBar* owner) const;
    Qt::DockWidgetArea OwnerSide(const DockPageBar* owner) const;

    int itemCount() const { return static_cast<int>(items_.size()); }
    const DockPage& ItemPage(int index) const { return *items_.at(static_cast<size_t>(index)).page; }
    QRect ItemRect(int index) const;
    int ItemAt(QPoint pos) const;
    int activeItem() const { return active_; }

    // Slides the item's page out and marks its tab active.
    void ShowItem(int index);
    // What the hover timer runs after the mouse rested on the strip.
    void HoverTimeout();
    bool isHoverArmed() const { return hoverTimer_.isActive(); }

    AutoHideFlyout* floatWindow() const { return float_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void pinBackRequested(calvora::DockPageBar* owner);
    void hideRequested(calvora::DockPageBar* owner);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct Item {
        std::unique_ptr<DockPage> page;
        DockPageBar* owner = nullptr;
        Qt::DockWidgetArea ownerSide = Qt::NoDockWidgetArea;
        QSize ownerSize;
    };
    bool horizontal() const { return side_ == Qt::TopDockWidgetArea || side_ == Qt::BottomDockWidgetArea; }
    std::vector<int> lengths() const;
    QRect FloatTarget(const Item& item) const;
    void ItemsChanged();

    Qt::DockWidgetArea side_;
    int controlId_;
    QMainWindow* frame_;
    std::vector<Item> items_;
    int active_ = -1;
    DockPage* shown_ = nullptr;
    DockPageBar* shownOwner_ = nullptr;
    AutoHideFlyout* float_ = nullptr;
    QTimer hoverTimer_;
    QPoint hoverPos_;
};

// The auto-hide strips of one main window: a strip per side, and the pin and unpin of the page bars docked
// there. The window stays an ordinary QMainWindow; this object lives as long as it (it is its child).
class AutoHideStrips : public QObject {
    Q_OBJECT
public:
    explicit AutoHideStrips(QMainWindow& window);
    ~AutoHideStrips() override;

    // Creates the strip of every named side that has none yet.
    void EnableDocking(Qt::DockWidgetAreas sides);
    AutoHideStrip* Strip(Qt::DockWidgetArea side) const;

    // Connects the bar's pin button to PinBar.
    void AttachPageBar(DockPageBar* bar);
    // Moves the bar's pages to the strip of the side it is docked at and hides the bar. A floating bar stays.
    void PinBar(DockPageBar* bar);
    // Gives the pages back to the bar, docked at its old side, shown or hidden.
    void UnpinBar(DockPageBar* bar, bool show);
    bool IsPinned(const DockPageBar* bar) const;

Q_SIGNALS:
    void pinStateChanged(calvora::DockPageBar* bar);

private:
    QMainWindow& window_;
    std::map<Qt::DockWidgetArea, AutoHideStrip*> strips_;
};

} // namespace calvora
