#include "docking/gui/dock_page_bar.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace calvora {

namespace {

const QColor kActiveCaption(10, 36, 106);
const QColor kInactiveOutline(128, 128, 128);
constexpr int kStripHeight = 16;
constexpr int kButtonSize = 13;
constexpr int kTabHeight = 22;

} // namespace

int PageTabWidth(int titleTextWidth, bool hasIcon) {
    return titleTextWidth + 9 + (hasIcon ? 18 : 0);
}

QString TruncateCaption(const QString& title, int stripWidth,
                        const std::function<int(const QString&)>& textWidth) {
    const int room = stripWidth - 30;
    QString shown = title;
    bool dropped = false;
    for (int i = 0; i < 10 && !shown.isEmpty() && textWidth(shown) > room; ++i) {
        shown.chop(2);
        dropped = true;
    }
    if (dropped) {
        shown.chop(2);
        shown += QStringLiteral("...");
    }
    return shown;
}

namespace {
// The buttons' glyphs and an inactive caption are drawn on the window's colour: in its text colour, so a dark
// theme keeps them readable.
QColor GlyphInk() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}
} // namespace

void DrawCloseButton(QPainter& painter, const QRect& rect, bool pressedOrHot) {
    // The Windows original draws glyph "r" of the Marlett font, which Linux desktops lack: the same cross is
    // drawn with lines.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(pressedOrHot ? QColor(Qt::white) : GlyphInk(), 1));
    const QRect glyph = rect.adjusted(3, 3, -3, -3);
    for (int d = 0; d < 2; ++d) {
        painter.drawLine(glyph.left() + d, glyph.top(), glyph.right() + d - 1, glyph.bottom());
        painter.drawLine(glyph.right() - d, glyph.top(), glyph.left() - d + 1, glyph.bottom());
    }
    painter.restore();
}

void DrawPinButton(QPainter& painter, const QRect& rect, bool pressedOrHot) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(pressedOrHot ? QColor(Qt::white) : GlyphInk(), 1));
    // A pin lying on its side: head, body with its stripe, and the needle to the left.
    const int cy = rect.center().y();
    const int left = rect.left() + 2;
    const int right = rect.right() - 2;
    painter.drawLine(right, cy - 3, right, cy + 3);
    painter.drawRect(QRect(QPoint(right - 6, cy - 2), QPoint(right - 1, cy + 1)));
    painter.drawLine(right - 5, cy, right - 2, cy);
    painter.drawLine(left, cy, right - 6, cy);
    painter.restore();
}

// ---------------------------------------------------------------------------------------------------------

DockPageCaption::DockPageCaption(DockPageBar* bar) : QWidget(bar), bar_(bar) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

QSize DockPageCaption::sizeHint() const {
    return {60, DockPageBar::kCaptionHeight};
}

QSize DockPageCaption::minimumSizeHint() const {
    return {30, DockPageBar::kCaptionHeight};
}

QRect DockPageCaption::stripRect() const {
    return {0, 1, width(), kStripHeight};
}

QRect DockPageCaption::closeButtonRect() const {
    const QRect strip = stripRect();
    return {strip.right() - 15, strip.top() + 1, kButtonSize, kButtonSize + 1};
}

QRect DockPageCaption::pinButtonRect() const {
    return closeButtonRect().translated(-17, 0);
}

QString DockPageCaption::displayedTitle() const {
    const QFontMetrics metrics(bar_->captionFont());
    return TruncateCaption(bar_->captionText(), stripRect().width(),
                           [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

void DockPageCaption::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect strip = stripRect();
    const bool active = bar_->isActive();
    if (active) {
        painter.fillRect(strip, kActiveCaption);
    } else {
        painter.setPen(kInactiveOutline);
        painter.drawRect(strip.adjusted(0, 0, -1, -1));
    }
    painter.setFont(bar_->captionFont());
    painter.setPen(active ? QColor(Qt::white) : palette().color(QPalette::WindowText));
    const QRect textRect(strip.left() + 4, strip.top() + 2, strip.width() - 4, strip.height() - 2);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, displayedTitle());
    DrawCloseButton(painter, closeButtonRect(), pressed_ == Button::Close || hot_ == Button::Close);
    if (!bar_->isFloating()) {
        DrawPinButton(painter, pinButtonRect(), pressed_ == Button::Pin || hot_ == Button::Pin);
    }
}

DockPageCaption::Button DockPageCaption::ButtonAt(QPoint pos) const {
    if (closeButtonRect().contains(pos)) {
        return Button::Close;
    }
    // A floating bar has no side to pin to.
    if (!bar_->isFloating() && pinButtonRect().contains(pos)) {
        return Button::Pin;
    }
    return Button::None;
}

void DockPageCaption::mousePressEvent(QMouseEvent* event) {
    pressed_ = event->button() == Qt::LeftButton ? ButtonAt(event->position().toPoint()) : Button::None;
    if (pressed_ == Button::None) {
        event->ignore();
        return;
    }
    update();
}

void DockPageCaption::mouseReleaseEvent(QMouseEvent* event) {
    const Button pressed = pressed_;
    pressed_ = Button::None;
    if (pressed == Button::None) {
        event->ignore();
        return;
    }
    const Button released = ButtonAt(event->position().toPoint());
    update();
    if (released != pressed) {
        return;
    }
    if (released == Button::Close) {
        bar_->HideBar();
    } else if (released == Button::Pin) {
        bar_->RequestPin();
    }
}

void DockPageCaption::mouseMoveEvent(QMouseEvent* event) {
    const Button hot = ButtonAt(event->position().toPoint());
    if (hot != hot_) {
        hot_ = hot;
        update();
    }
    if (pressed_ == Button::None) {
        event->ignore();
    }
}

void DockPageCaption::mouseDoubleClickEvent(QMouseEvent* event) {
    if (ButtonAt(event->position().toPoint()) == Button::None) {
        event->ignore();
    }
}

void DockPageCaption::leaveEvent(QEvent*) {
    if (hot_ != Button::None) {
        hot_ = Button::None;
        update();
    }
}

// ---------------------------------------------------------------------------------------------------------

DockPageTabs::DockPageTabs(DockPageBar* bar) : QWidget(bar), bar_(bar) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize DockPageTabs::sizeHint() const {
    return {60, kTabHeight};
}

QRect DockPageTabs::TabRect(int index) const {
    int x = 2;
    for (int i = 0; i < bar_->pageCount(); ++i) {
        const int w = bar_->page(i).tabWidth;
        if (i == index) {
            return {x, 0, w, kTabHeight - 2};
        }
        x += w;
    }
    return {};
}

int DockPageTabs::TabAt(QPoint pos) const {
    for (int i = 0; i < bar_->pageCount(); ++i) {
        if (TabRect(i).contains(pos)) {
            return i;
        }
    }
    return -1;
}

void DockPageTabs::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(0, 0, width(), 0);
    for (int i = 0; i < bar_->pageCount(); ++i) {
        const DockPage& page = bar_->page(i);
        const QRect tab = TabRect(i);
        const bool active = i == bar_->activePageIndex();
        if (active) {
            painter.fillRect(tab, palette().base());
            painter.setPen(palette().color(QPalette::Shadow));
            painter.drawLine(tab.bottomLeft(), tab.bottomRight());
            painter.drawLine(tab.topRight(), tab.bottomRight());
            painter.setPen(palette().color(QPalette::Light));
            painter.drawLine(tab.topLeft(), tab.bottomLeft());
        } else if (i + 1 != bar_->activePageIndex()) {
            painter.setPen(palette().color(QPalette::Dark));
            painter.drawLine(tab.right(), tab.top() + 3, tab.right(), tab.bottom() - 3);
        }
        int x = tab.left() + 4;
        if (!page.icon.isNull()) {
            page.icon.paint(&painter, QRect(x, tab.top() + (tab.height() - 16) / 2, 16, 16));
            x += 18;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(x, tab.top(), tab.right() - x, tab.height()), Qt::AlignVCenter | Qt::AlignLeft,
                         page.title);
    }
}

void DockPageTabs::mousePressEvent(QMouseEvent* event) {
    const int index = TabAt(event->position().toPoint());
    if (index < 0) {
        return;
    }
    bar_->ActivatePage(index);
    bar_->setFocus(Qt::MouseFocusReason);
}

// ---------------------------------------------------------------------------------------------------------

DockPageBar::DockPageBar(QWidget* parent) : SizingDockBar(parent) {
    captionFont_ = font();
    captionBar_ = new DockPageCaption(this);
    setTitleBarWidget(captionBar_);

    client_ = new QWidget(this);
    auto* layout = new QVBoxLayout(client_);
    layout->setSpacing(0);
    pageArea_ = new QWidget(client_);
    pageArea_->installEventFilter(this);
    tabs_ = new DockPageTabs(this);
    tabs_->setParent(client_);
    tabs_->hide();
    layout->addWidget(pageArea_, 1);
    layout->addWidget(tabs_);
    setWidget(client_);
    setFocusPolicy(Qt::ClickFocus);

    SetMinimumSizes({50, 50}, {60, 60}, {150, 150});
    focusConnection_ =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) { UpdateActive(); });
}

DockPageBar::~DockPageBar() {
    disconnect(focusConnection_);
}

bool DockPageBar::AddPage(QWidget* window, const QString& title, const QIcon& icon) {
    if (window == nullptr) {
        return false;
    }
    auto item = std::make_unique<DockPage>();
    item->window = window;
    item->title = title;
    item->icon = icon;
    item->tabWidth = PageTabWidth(QFontMetrics(tabs_->font()).horizontalAdvance(title), !icon.isNull());
    // setParent also turns a top-level window into a child.
    window->setParent(pageArea_);
    window->setGeometry(pageArea_->rect());
    window->hide();
    pages_.push_back(std::move(item));
    tabs_->setVisible(pages_.size() > 1);
    if (activePage_ < 0) {
        ActivatePage(0);
    }
    tabs_->update();
    update();
    return true;
}

void DockPageBar::ActivatePage(int index) {
    if (index == activePage_ || index < 0 || index >= pageCount()) {
        return;
    }
    if (activePage_ >= 0 && pages_[static_cast<size_t>(activePage_)]->window != nullptr) {
        pages_[static_cast<size_t>(activePage_)]->window->hide();
    }
    activePage_ = index;
    const DockPage& page = *pages_[static_cast<size_t>(index)];
    caption_ = page.title;
    setWindowTitle(page.title);
    if (page.window != nullptr) {
        page.window->setGeometry(pageArea_->rect());
        page.window->show();
    }
    captionBar_->update();
    tabs_->update();
    Q_EMIT activePageChanged(index);
}

std::unique_ptr<DockPage> DockPageBar::RemoveActivePage() {
    if (activePage_ < 0) {
        return nullptr;
    }
    const auto position = pages_.begin() + activePage_;
    std::unique_ptr<DockPage> item = std::move(*position);
    pages_.erase(position);
    if (item->window != nullptr) {
        item->window->hide();
    }
    activePage_ = -1;
    caption_.clear();
    if (pages_.size() <= 1) {
        // One page left: the tab row goes and the page takes the whole client area.
        tabs_->hide();
        LayoutPages();
    }
    if (!pages_.empty()) {
        ActivatePage(0);
    } else {
        setWindowTitle(objectName());
        Q_EMIT activePageChanged(-1);
    }
    captionBar_->update();
    tabs_->update();
    return item;
}

void DockPageBar::HideBar() {
    setVisible(false);
    captionBar_->update();
}

void DockPageBar::RequestPin() {
    Q_EMIT pinRequested(this);
    captionBar_->update();
}

void DockPageBar::PlacementChanged() {
    SizingDockBar::PlacementChanged();
    if (client_ == nullptr) {
        return;
    }
    // Client insets: 0 left, 3 top, 1 right, 1 bottom; a docked bar 2 more at the left, right and bottom.
    if (isFloating()) {
        client_->layout()->setContentsMargins(0, 3, 1, 1);
    } else {
        client_->layout()->setContentsMargins(2, 3, 3, 3);
    }
    captionBar_->update();
}

bool DockPageBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pageArea_ && event->type() == QEvent::Resize) {
        LayoutPages();
    }
    return SizingDockBar::eventFilter(watched, event);
}

void DockPageBar::LayoutPages() {
    for (auto& page : pages_) {
        if (page->window != nullptr && page->window->parentWidget() == pageArea_) {
            page->window->setGeometry(pageArea_->rect());
        }
    }
}

void DockPageBar::UpdateActive() {
    QWidget* focus = QApplication::focusWidget();
    const bool active = focus != nullptr && (focus == this || isAncestorOf(focus));
    if (active != active_) {
        active_ = active;
        captionBar_->update();
    }
}

} // namespace calvora
