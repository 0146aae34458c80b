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

void DrawCloseButton(QPainter& painter, const QRect& rect, bool pressedOrHot) {
    // The Windows original draws glyph "r" of the Marlett font, which Linux desktops lack: the same cross is
    // drawn with lines.
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(pressedOrHot ? Qt::white : Qt::black, 1));
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
    painter.setPen(QPen(pressedOrHot ? Qt::white : Qt::black, 1));
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

DockPageCaption::DockPageCaption(DockPageBar* bar) : QWidget(bar), m_bar(bar) {
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

QSize DockPageCaption::sizeHint() const {
    return {60, DockPageBar::kCaptionHeight};
}

QSize DockPageCaption::minimumSizeHint() const {
    return {30, DockPageBar::kCaptionHeight};
}

QRect DockPageCaption::StripRect() const {
    return {0, 1, width(), kStripHeight};
}

QRect DockPageCaption::CloseButtonRect() const {
    const QRect strip = StripRect();
    return {strip.right() - 15, strip.top() + 1, kButtonSize, kButtonSize + 1};
}

QRect DockPageCaption::PinButtonRect() const {
    return CloseButtonRect().translated(-17, 0);
}

QString DockPageCaption::DisplayedTitle() const {
    const QFontMetrics metrics(m_bar->CaptionFont());
    return TruncateCaption(m_bar->CaptionText(), StripRect().width(),
                           [&metrics](const QString& text) { return metrics.horizontalAdvance(text); });
}

void DockPageCaption::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect strip = StripRect();
    const bool active = m_bar->IsActive();
    if (active) {
        painter.fillRect(strip, kActiveCaption);
    } else {
        painter.setPen(kInactiveOutline);
        painter.drawRect(strip.adjusted(0, 0, -1, -1));
    }
    painter.setFont(m_bar->CaptionFont());
    painter.setPen(active ? Qt::white : Qt::black);
    const QRect textRect(strip.left() + 4, strip.top() + 2, strip.width() - 4, strip.height() - 2);
    painter.drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, DisplayedTitle());
    DrawCloseButton(painter, CloseButtonRect(), m_pressed == Button::Close || m_hot == Button::Close);
    if (!m_bar->isFloating()) {
        DrawPinButton(painter, PinButtonRect(), m_pressed == Button::Pin || m_hot == Button::Pin);
    }
}

DockPageCaption::Button DockPageCaption::ButtonAt(QPoint pos) const {
    if (CloseButtonRect().contains(pos)) {
        return Button::Close;
    }
    // A floating bar has no side to pin to.
    if (!m_bar->isFloating() && PinButtonRect().contains(pos)) {
        return Button::Pin;
    }
    return Button::None;
}

void DockPageCaption::mousePressEvent(QMouseEvent* event) {
    m_pressed = event->button() == Qt::LeftButton ? ButtonAt(event->position().toPoint()) : Button::None;
    if (m_pressed == Button::None) {
        event->ignore();
        return;
    }
    update();
}

void DockPageCaption::mouseReleaseEvent(QMouseEvent* event) {
    const Button pressed = m_pressed;
    m_pressed = Button::None;
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
        m_bar->HideBar();
    } else if (released == Button::Pin) {
        m_bar->RequestPin();
    }
}

void DockPageCaption::mouseMoveEvent(QMouseEvent* event) {
    const Button hot = ButtonAt(event->position().toPoint());
    if (hot != m_hot) {
        m_hot = hot;
        update();
    }
    if (m_pressed == Button::None) {
        event->ignore();
    }
}

void DockPageCaption::mouseDoubleClickEvent(QMouseEvent* event) {
    if (ButtonAt(event->position().toPoint()) == Button::None) {
        event->ignore();
    }
}

void DockPageCaption::leaveEvent(QEvent*) {
    if (m_hot != Button::None) {
        m_hot = Button::None;
        update();
    }
}

// ---------------------------------------------------------------------------------------------------------

DockPageTabs::DockPageTabs(DockPageBar* bar) : QWidget(bar), m_bar(bar) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

QSize DockPageTabs::sizeHint() const {
    return {60, kTabHeight};
}

QRect DockPageTabs::TabRect(int index) const {
    int x = 2;
    for (int i = 0; i < m_bar->PageCount(); ++i) {
        const int w = m_bar->Page(i).tabWidth;
        if (i == index) {
            return {x, 0, w, kTabHeight - 2};
        }
        x += w;
    }
    return {};
}

int DockPageTabs::TabAt(QPoint pos) const {
    for (int i = 0; i < m_bar->PageCount(); ++i) {
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
    for (int i = 0; i < m_bar->PageCount(); ++i) {
        const DockPage& page = m_bar->Page(i);
        const QRect tab = TabRect(i);
        const bool active = i == m_bar->ActivePageIndex();
        if (active) {
            painter.fillRect(tab, palette().base());
            painter.setPen(palette().color(QPalette::Shadow));
            painter.drawLine(tab.bottomLeft(), tab.bottomRight());
            painter.drawLine(tab.topRight(), tab.bottomRight());
            painter.setPen(palette().color(QPalette::Light));
            painter.drawLine(tab.topLeft(), tab.bottomLeft());
        } else if (i + 1 != m_bar->ActivePageIndex()) {
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
    m_bar->ActivatePage(index);
    m_bar->setFocus(Qt::MouseFocusReason);
}

// ---------------------------------------------------------------------------------------------------------

DockPageBar::DockPageBar(QWidget* parent) : SizingDockBar(parent) {
    m_captionFont = font();
    m_captionBar = new DockPageCaption(this);
    setTitleBarWidget(m_captionBar);

    m_client = new QWidget(this);
    auto* layout = new QVBoxLayout(m_client);
    layout->setSpacing(0);
    m_pageArea = new QWidget(m_client);
    m_pageArea->installEventFilter(this);
    m_tabs = new DockPageTabs(this);
    m_tabs->setParent(m_client);
    m_tabs->hide();
    layout->addWidget(m_pageArea, 1);
    layout->addWidget(m_tabs);
    setWidget(m_client);
    setFocusPolicy(Qt::ClickFocus);

    SetMinimumSizes({50, 50}, {60, 60}, {150, 150});
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget*) { UpdateActive(); });
}

DockPageBar::~DockPageBar() {
    disconnect(m_focusConnection);
}

bool DockPageBar::AddPage(QWidget* window, const QString& title, const QIcon& icon) {
    if (window == nullptr) {
        return false;
    }
    auto item = std::make_unique<DockPage>();
    item->window = window;
    item->title = title;
    item->icon = icon;
    item->tabWidth = PageTabWidth(QFontMetrics(m_tabs->font()).horizontalAdvance(title), !icon.isNull());
    // setParent also turns a top-level window into a child.
    window->setParent(m_pageArea);
    window->setGeometry(m_pageArea->rect());
    window->hide();
    m_pages.push_back(std::move(item));
    m_tabs->setVisible(m_pages.size() > 1);
    if (m_activePage < 0) {
        ActivatePage(0);
    }
    m_tabs->update();
    update();
    return true;
}

void DockPageBar::ActivatePage(int index) {
    if (index == m_activePage || index < 0 || index >= PageCount()) {
        return;
    }
    if (m_activePage >= 0 && m_pages[static_cast<size_t>(m_activePage)]->window != nullptr) {
        m_pages[static_cast<size_t>(m_activePage)]->window->hide();
    }
    m_activePage = index;
    const DockPage& page = *m_pages[static_cast<size_t>(index)];
    m_caption = page.title;
    setWindowTitle(page.title);
    if (page.window != nullptr) {
        page.window->setGeometry(m_pageArea->rect());
        page.window->show();
    }
    m_captionBar->update();
    m_tabs->update();
    Q_EMIT activePageChanged(index);
}

std::unique_ptr<DockPage> DockPageBar::RemoveActivePage() {
    if (m_activePage < 0) {
        return nullptr;
    }
    const auto position = m_pages.begin() + m_activePage;
    std::unique_ptr<DockPage> item = std::move(*position);
    m_pages.erase(position);
    if (item->window != nullptr) {
        item->window->hide();
    }
    m_activePage = -1;
    m_caption.clear();
    if (m_pages.size() <= 1) {
        // One page left: the tab row goes and the page takes the whole client area.
        m_tabs->hide();
        LayoutPages();
    }
    if (!m_pages.empty()) {
        ActivatePage(0);
    } else {
        setWindowTitle(objectName());
        Q_EMIT activePageChanged(-1);
    }
    m_captionBar->update();
    m_tabs->update();
    return item;
}

void DockPageBar::HideBar() {
    setVisible(false);
    m_captionBar->update();
}

void DockPageBar::RequestPin() {
    Q_EMIT pinRequested(this);
    m_captionBar->update();
}

void DockPageBar::PlacementChanged() {
    SizingDockBar::PlacementChanged();
    if (m_client == nullptr) {
        return;
    }
    // Client insets: 0 left, 3 top, 1 right, 1 bottom; a docked bar 2 more at the left, right and bottom.
    if (isFloating()) {
        m_client->layout()->setContentsMargins(0, 3, 1, 1);
    } else {
        m_client->layout()->setContentsMargins(2, 3, 3, 3);
    }
    m_captionBar->update();
}

bool DockPageBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pageArea && event->type() == QEvent::Resize) {
        LayoutPages();
    }
    return SizingDockBar::eventFilter(watched, event);
}

void DockPageBar::LayoutPages() {
    for (auto& page : m_pages) {
        if (page->window != nullptr && page->window->parentWidget() == m_pageArea) {
            page->window->setGeometry(m_pageArea->rect());
        }
    }
}

void DockPageBar::UpdateActive() {
    QWidget* focus = QApplication::focusWidget();
    const bool active = focus != nullptr && (focus == this || isAncestorOf(focus));
    if (active != m_active) {
        m_active = active;
        m_captionBar->update();
    }
}

} // namespace calvora
