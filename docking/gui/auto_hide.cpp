#include "docking/gui/auto_hide.h"

#include <QApplication>
#include <QDrag>
#include <QMdiArea>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

#include <algorithm>
#include <numeric>

namespace calvora {

namespace {

const QColor kInactiveOutline(128, 128, 128);

Qt::ToolBarArea ToolBarAreaFor(Qt::DockWidgetArea side) {
    switch (side) {
    case Qt::TopDockWidgetArea:
        return Qt::TopToolBarArea;
    case Qt::BottomDockWidgetArea:
        return Qt::BottomToolBarArea;
    case Qt::LeftDockWidgetArea:
        return Qt::LeftToolBarArea;
    default:
        return Qt::RightToolBarArea;
    }
}

constexpr std::array<Qt::DockWidgetArea, 4> kSides = {Qt::TopDockWidgetArea, Qt::BottomDockWidgetArea,
                                                      Qt::LeftDockWidgetArea, Qt::RightDockWidgetArea};

} // namespace

int AutoHideBarIdForSide(Qt::DockWidgetArea side) {
    switch (side) {
    case Qt::TopDockWidgetArea:
        return kAutoHideTop;
    case Qt::BottomDockWidgetArea:
        return kAutoHideBottom;
    case Qt::LeftDockWidgetArea:
        return kAutoHideLeft;
    case Qt::RightDockWidgetArea:
        return kAutoHideRight;
    default:
        return 0;
    }
}

int AutoHideBarThickness(Qt::DockWidgetArea side) {
    return side == Qt::BottomDockWidgetArea ? 22 : 24;
}

std::vector<int> StripItemLengths(const std::vector<int>& titleWidths, int activeIndex) {
    std::vector<int> lengths;
    lengths.reserve(titleWidths.size());
    for (size_t i = 0; i < titleWidths.size(); ++i) {
        lengths.push_back(static_cast<int>(i) == activeIndex ? 45 + titleWidths[i] + 24 : 21);
    }
    return lengths;
}

PointerProbe PointerProbe::System() {
    PointerProbe probe;
    probe.globalPosition = [] { return QCursor::pos(); };
    probe.dragging = [] { return QGuiApplication::mouseButtons() != Qt::NoButton; };
    probe.captured = [] { return QWidget::mouseGrabber() != nullptr; };
    return probe;
}

// ---------------------------------------------------------------------------------------------------------

AutoHideFlyout::AutoHideFlyout(Qt::DockWidgetArea side, QWidget* parent)
    : QWidget(parent), m_side(side), m_probe(PointerProbe::System()) {
    setObjectName(QStringLiteral("AutoHideFloatWnd"));
    m_captionFont = QFont(QStringLiteral("Tahoma"));
    m_captionFont.setPointSizeF(8.5);
    m_panel = new QWidget(this);
    m_panel->setAutoFillBackground(true);
    m_panel->installEventFilter(this);
    hide();
    m_inTimer.setInterval(kStepMs);
    m_outTimer.setInterval(kStepMs);
    m_leaveTimer.setInterval(kLeavePollMs);
    connect(&m_inTimer, &QTimer::timeout, this, &AutoHideFlyout::SlideInStep);
    connect(&m_outTimer, &QTimer::timeout, this, &AutoHideFlyout::SlideOutStep);
    connect(&m_leaveTimer, &QTimer::timeout, this, &AutoHideFlyout::LeavePoll);
}

AutoHideFlyout::~AutoHideFlyout() = default;

void AutoHideFlyout::SetPage(DockPage* page) {
    if (m_page != nullptr && m_page != page && m_page->window != nullptr &&
        m_page->window->parentWidget() == m_panel) {
        m_page->window->hide();
    }
    m_page = page;
    if (m_page != nullptr && m_page->window != nullptr) {
        m_page->window->setParent(m_panel);
        LayoutPage();
        m_page->window->show();
    }
    m_panel->update();
}

void AutoHideFlyout::ReleasePage() {
    m_page = nullptr;
}

void AutoHideFlyout::SetTargetRect(const QRect& rect) {
    m_target = rect;
    m_panel->resize(rect.size());
    LayoutPage();
}

QMargins AutoHideFlyout::BorderMargins() const {
    // The frame border sits on the side facing the frame's centre.
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    switch (m_side) {
    case Qt::LeftDockWidgetArea:
        return {0, 0, border, 0};
    case Qt::RightDockWidgetArea:
        return {border, 0, 0, 0};
    case Qt::TopDockWidgetArea:
        return {0, 0, 0, border};
    default:
        return {0, border, 0, 0};
    }
}

void AutoHideFlyout::LayoutPage() {
    if (m_page == nullptr || m_page->window == nullptr) {
        return;
    }
    const QRect inner = m_panel->rect().marginsRemoved(BorderMargins());
    m_page->window->setGeometry(inner.adjusted(2, kCaptionHeight, -2, -2));
}

QRect AutoHideFlyout::CloseButtonRect() const {
    const QRect inner = m_panel->rect().marginsRemoved(BorderMargins());
    return {inner.right() - 16, inner.top() + 3, 13, 14};
}

QRect AutoHideFlyout::PinButtonRect() const {
    return CloseButtonRect().translated(-17, 0);
}

bool AutoHideFlyout::IsTimerRunning(int id) const {
    switch (id) {
    case kSlideTimerIn:
        return m_inTimer.isActive();
    case kSlideTimerOut:
        return m_outTimer.isActive();
    case kLeaveTimer:
        return m_leaveTimer.isActive();
    default:
        return false;
    }
}

void AutoHideFlyout::StartSlide(bool out, int durationMs) {
    m_inTimer.stop();
    m_outTimer.stop();
    m_steps = std::max(1, durationMs / kStepMs);
    m_sliding = true;
    if (out) {
        m_position = 0;
        PlaceAtStep(1);
        show();
        raise();
        m_leaveTimer.start();
        m_outTimer.start();
    } else {
        m_position = m_steps - 1;
        m_leaveTimer.stop();
        m_inTimer.start();
    }
}

void AutoHideFlyout::SlideOutStep() {
    if (m_position < m_steps - 1) {
        ++m_position;
        PlaceAtStep(m_position + 1);
        return;
    }
    PlaceAtStep(m_steps);
    show();
    m_outTimer.stop();
    m_sliding = false;
}

void AutoHideFlyout::SlideInStep() {
    if (m_position >= 0) {
        --m_position;
    }
    if (m_position < 0) {
        m_inTimer.stop();
        hide();
        m_position = m_steps - 1;
        m_sliding = false;
        return;
    }
    PlaceAtStep(m_position + 1);
}

void AutoHideFlyout::LeavePoll() {
    const QRect global(mapToGlobal(QPoint(0, 0)), size());
    if (global.contains(m_probe.globalPosition()) || m_probe.dragging() || m_probe.captured()) {
        return;
    }
    m_leaveTimer.stop();
    StartSlide(false);
}

void AutoHideFlyout::HideNow() {
    m_inTimer.stop();
    m_outTimer.stop();
    m_leaveTimer.stop();
    m_sliding = false;
    m_position = m_steps - 1;
    hide();
}

void AutoHideFlyout::PlaceAtStep(int shownSteps) {
    const QRect t = m_target;
    switch (m_side) {
    case Qt::LeftDockWidgetArea: {
        const int w = t.width() * shownSteps / m_steps;
        setGeometry(t.left(), t.top(), w, t.height());
        m_panel->move(w - t.width(), 0);
        break;
    }
    case Qt::RightDockWidgetArea: {
        const int w = t.width() * shownSteps / m_steps;
        setGeometry(t.right() - w + 1, t.top(), w, t.height());
        m_panel->move(0, 0);
        break;
    }
    case Qt::TopDockWidgetArea: {
        const int h = t.height() * shownSteps / m_steps;
        setGeometry(t.left(), t.top(), t.width(), h);
        m_panel->move(0, h - t.height());
        break;
    }
    default: {
        const int h = t.height() * shownSteps / m_steps;
        setGeometry(t.left(), t.bottom() - h + 1, t.width(), h);
        m_panel->move(0, 0);
        break;
    }
    }
}

bool AutoHideFlyout::eventFilter(QObject* watched, QEvent* event) {
    if (watched != m_panel) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::Paint: {
        QPainter painter(m_panel);
        const QRect all = m_panel->rect();
        const QRect inner = all.marginsRemoved(BorderMargins());
        painter.fillRect(all, m_panel->palette().window());
        painter.setPen(m_panel->palette().color(QPalette::Dark));
        painter.drawRect(all.adjusted(0, 0, -1, -1));
        const QRect strip(inner.left() + 1, inner.top() + 1, inner.width() - 2, 16);
        painter.setPen(kInactiveOutline);
        painter.drawRect(strip.adjusted(0, 0, -1, -1));
        painter.setFont(m_captionFont);
        painter.setPen(Qt::black);
        const QString title = m_page != nullptr ? m_page->title : QString();
        painter.drawText(strip.adjusted(4, 1, -40, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
        DrawCloseButton(painter, CloseButtonRect(), m_pressedButton == 1);
        DrawPinButton(painter, PinButtonRect(), m_pressedButton == 2);
        return true;
    }
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        m_pressedButton = CloseButtonRect().contains(pos) ? 1 : PinButtonRect().contains(pos) ? 2 : 0;
        m_panel->update();
        return m_pressedButton != 0;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        const int pressed = m_pressedButton;
        m_pressedButton = 0;
        m_panel->update();
        if (pressed == 1 && CloseButtonRect().contains(pos)) {
            Q_EMIT closeClicked();
        } else if (pressed == 2 && PinButtonRect().contains(pos)) {
            Q_EMIT pinClicked();
        }
        return pressed != 0;
    }
    case QEvent::Resize:
        LayoutPage();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------------------

AutoHideStrip::AutoHideStrip(Qt::DockWidgetArea side, QMainWindow* frame)
    : QToolBar(frame), m_side(side), m_controlId(AutoHideBarIdForSide(side)), m_frame(frame) {
    setObjectName(QStringLiteral("AutoHideBar%1").arg(m_controlId));
    setMovable(false);
    setFloatable(false);
    setAllowedAreas(ToolBarAreaFor(side));
    setOrientation(Horizontal() ? Qt::Horizontal : Qt::Vertical);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    if (Horizontal()) {
        setFixedHeight(AutoHideBarThickness(side));
    } else {
        setFixedWidth(AutoHideBarThickness(side));
    }
    m_hoverTimer.setSingleShot(true);
    m_hoverTimer.setInterval(kHoverMs);
    connect(&m_hoverTimer, &QTimer::timeout, this, &AutoHideStrip::HoverTimeout);
    m_float = new AutoHideFlyout(side, frame);
    connect(m_float, &AutoHideFlyout::pinClicked, this, [this] {
        if (m_shownOwner != nullptr) {
            Q_EMIT pinBackRequested(m_shownOwner);
        }
    });
    connect(m_float, &AutoHideFlyout::closeClicked, this, [this] {
        if (m_shownOwner != nullptr) {
            Q_EMIT hideRequested(m_shownOwner);
        }
    });
    hide();
}

AutoHideStrip::~AutoHideStrip() = default;

void AutoHideStrip::AddItem(std::unique_ptr<DockPage> page, DockPageBar* owner, Qt::DockWidgetArea ownerSide,
                           QSize ownerSize) {
    if (page == nullptr) {
        return;
    }
    if (page->window != nullptr) {
        page->window->hide();
    }
    m_items.push_back(Item{std::move(page), owner, ownerSide, ownerSize});
    ItemsChanged();
}

std::vector<std::unique_ptr<DockPage>> AutoHideStrip::TakeItemsOf(const DockPageBar* owner) {
    std::vector<std::unique_ptr<DockPage>> taken;
    if (m_shownOwner == owner) {
        m_float->HideNow();
        m_float->ReleasePage();
        m_shown = nullptr;
        m_shownOwner = nullptr;
    }
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (it->owner == owner) {
            taken.push_back(std::move(it->page));
            it = m_items.erase(it);
        } else {
            ++it;
        }
    }
    m_active = -1;
    ItemsChanged();
    return taken;
}

bool AutoHideStrip::HoldsItemsOf(const DockPageBar* owner) const {
    return std::any_of(m_items.begin(), m_items.end(),
                       [owner](const Item& item) { return item.owner == owner; });
}

Qt::DockWidgetArea AutoHideStrip::OwnerSide(const DockPageBar* owner) const {
    for (const Item& item : m_items) {
        if (item.owner == owner) {
            return item.ownerSide;
        }
    }
    return Qt::NoDockWidgetArea;
}

std::vector<int> AutoHideStrip::Lengths() const {
    const QFontMetrics metrics(font());
    std::vector<int> widths;
    widths.reserve(m_items.size());
    for (const Item& item : m_items) {
        widths.push_back(metrics.horizontalAdvance(item.page->title));
    }
    return StripItemLengths(widths, m_active);
}

QRect AutoHideStrip::ItemRect(int index) const {
    const std::vector<int> lengths = Lengths();
    if (index < 0 || index >= static_cast<int>(lengths.size())) {
        return {};
    }
    const int start = std::accumulate(lengths.begin(), lengths.begin() + index, 0);
    const int thickness = AutoHideBarThickness(m_side);
    const int length = lengths[static_cast<size_t>(index)];
    return Horizontal() ? QRect(start, 0, length, thickness) : QRect(0, start, thickness, length);
}

int AutoHideStrip::ItemAt(QPoint pos) const {
    for (int i = 0; i < ItemCount(); ++i) {
        if (ItemRect(i).contains(pos)) {
            return i;
        }
    }
    return -1;
}

QSize AutoHideStrip::sizeHint() const {
    const std::vector<int> lengths = Lengths();
    const int length = std::accumulate(lengths.begin(), lengths.end(), 0);
    const int thickness = AutoHideBarThickness(m_side);
    return Horizontal() ? QSize(length, thickness) : QSize(thickness, length);
}

QSize AutoHideStrip::minimumSizeHint() const {
    return sizeHint();
}

QRect AutoHideStrip::FloatTarget(const Item& item) const {
    // The float window covers the frame between the strips: the central area and the docked bars.
    QRect inner =
        m_frame->centralWidget() != nullptr ? m_frame->centralWidget()->geometry() : m_frame->rect();
    for (QDockWidget* dock : m_frame->findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly)) {
        if (dock->isVisible() && !dock->isFloating()) {
            inner = inner.united(dock->geometry());
        }
    }
    const QRect strip = geometry();
    const int border = m_float->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, m_float);
    const int across = Horizontal() ? item.ownerSize.height() + border : item.ownerSize.width() + border;
    switch (m_side) {
    case Qt::LeftDockWidgetArea:
        return {strip.right() + 1, inner.top(), across, inner.height()};
    case Qt::RightDockWidgetArea:
        return {strip.left() - across, inner.top(), across, inner.height()};
    case Qt::TopDockWidgetArea:
        return {inner.left(), strip.bottom() + 1, inner.width(), across};
    default:
        return {inner.left(), strip.top() - across, inner.width(), across};
    }
}

void AutoHideStrip::ShowItem(int index) {
    if (index < 0 || index >= ItemCount()) {
        return;
    }
    Item& item = m_items[static_cast<size_t>(index)];
    m_active = index;
    const bool alreadyOut = m_shown == item.page.get() && m_float->isVisible() &&
                            !m_float->IsTimerRunning(AutoHideFlyout::kSlideTimerIn);
    if (!alreadyOut) {
        m_shown = item.page.get();
        m_shownOwner = item.owner;
        m_float->SetTargetRect(FloatTarget(item));
        m_float->SetPage(m_shown);
        m_float->StartSlide(true);
    }
    updateGeometry();
    update();
}

void AutoHideStrip::HoverTimeout() {
    ShowItem(ItemAt(m_hoverPos));
}

void AutoHideStrip::ItemsChanged() {
    setVisible(!m_items.empty());
    updateGeometry();
    update();
}

void AutoHideStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Dark));
    // The border towards the frame's centre.
    switch (m_side) {
    case Qt::LeftDockWidgetArea:
        painter.drawLine(width() - 1, 0, width() - 1, height());
        break;
    case Qt::RightDockWidgetArea:
        painter.drawLine(0, 0, 0, height());
        break;
    case Qt::TopDockWidgetArea:
        painter.drawLine(0, height() - 1, width(), height() - 1);
        break;
    default:
        painter.drawLine(0, 0, width(), 0);
        break;
    }
    for (int i = 0; i < ItemCount(); ++i) {
        const DockPage& page = *m_items[static_cast<size_t>(i)].page;
        const QRect r = ItemRect(i).adjusted(1, 1, -2, -2);
        painter.setPen(palette().color(QPalette::Dark));
        painter.fillRect(r, i == m_active ? palette().base() : palette().button());
        painter.drawRect(r);
        const QRect iconRect = Horizontal() ? QRect(r.left() + 3, r.center().y() - 7, 16, 16)
                                            : QRect(r.center().x() - 7, r.top() + 3, 16, 16);
        if (!page.icon.isNull()) {
            page.icon.paint(&painter, iconRect);
        }
        if (i != m_active) {
            continue;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        if (Horizontal()) {
            painter.drawText(
                QRect(iconRect.right() + 6, r.top(), r.right() - iconRect.right() - 6, r.height()),
                Qt::AlignVCenter | Qt::AlignLeft, page.title);
        } else {
            painter.save();
            painter.translate(r.right(), iconRect.bottom() + 6);
            painter.rotate(90);
            painter.drawText(QRect(0, 0, r.bottom() - iconRect.bottom() - 6, r.width()),
                             Qt::AlignVCenter | Qt::AlignLeft, page.title);
            painter.restore();
        }
    }
}

void AutoHideStrip::mouseMoveEvent(QMouseEvent* event) {
    // Hover tracking is armed again at every move, so only a rest of 400 ms fires it.
    m_hoverPos = event->position().toPoint();
    m_hoverTimer.start();
}

void AutoHideStrip::mousePressEvent(QMouseEvent* event) {
    m_hoverTimer.stop();
    ShowItem(ItemAt(event->position().toPoint()));
}

void AutoHideStrip::leaveEvent(QEvent*) {
    m_hoverTimer.stop();
    if (m_active >= 0) {
        m_active = -1;
        updateGeometry();
        update();
    }
}

// ---------------------------------------------------------------------------------------------------------

AutoHideMainWindow::AutoHideMainWindow(QWidget* parent) : QMainWindow(parent), m_mdiArea(new QMdiArea(this)) {
    setCentralWidget(m_mdiArea);
    setContextMenuPolicy(Qt::PreventContextMenu);
}

AutoHideMainWindow::~AutoHideMainWindow() = default;

void AutoHideMainWindow::EnableDocking(Qt::DockWidgetAreas sides) {
    for (Qt::DockWidgetArea side : kSides) {
        if (!sides.testFlag(side) || m_strips.count(side) != 0) {
            continue;
        }
        auto* strip = new AutoHideStrip(side, this);
        if (side == Qt::TopDockWidgetArea) {
            // Below the toolbar, on a line of its own.
            addToolBarBreak(Qt::TopToolBarArea);
        }
        addToolBar(ToolBarAreaFor(side), strip);
        strip->hide();
        connect(strip, &AutoHideStrip::pinBackRequested, this,
                [this](DockPageBar* bar) { UnpinBar(bar, true); });
        connect(strip, &AutoHideStrip::hideRequested, this,
                [this](DockPageBar* bar) { UnpinBar(bar, false); });
        m_strips[side] = strip;
    }
}

AutoHideStrip* AutoHideMainWindow::AutoHideBar(Qt::DockWidgetArea side) const {
    const auto it = m_strips.find(side);
    return it == m_strips.end() ? nullptr : it->second;
}

void AutoHideMainWindow::AttachPageBar(DockPageBar* bar) {
    connect(bar, &DockPageBar::pinRequested, this, &AutoHideMainWindow::PinBar);
}

void AutoHideMainWindow::PinBar(DockPageBar* bar) {
    if (bar == nullptr || IsPinned(bar)) {
        return;
    }
    const Qt::DockWidgetArea side = bar->DockSide();
    AutoHideStrip* strip = AutoHideBar(side);
    if (strip == nullptr || bar->PageCount() == 0) {
        return;
    }
    const QSize size = bar->size();
    while (bar->PageCount() > 0) {
        if (bar->ActivePageIndex() < 0) {
            bar->ActivatePage(0);
        }
        strip->AddItem(bar->RemoveActivePage(), bar, side, size);
    }
    bar->hide();
    Q_EMIT pinStateChanged(bar);
}

void AutoHideMainWindow::UnpinBar(DockPageBar* bar, bool show) {
    for (auto& [side, strip] : m_strips) {
        if (!strip->HoldsItemsOf(bar)) {
            continue;
        }
        const Qt::DockWidgetArea ownerSide = strip->OwnerSide(bar);
        for (std::unique_ptr<DockPage>& item : strip->TakeItemsOf(bar)) {
            bar->AddPage(item->window, item->title, item->icon);
        }
        if (show) {
            bar->DockAt(ownerSide);
            bar->show();
        }
    }
    Q_EMIT pinStateChanged(bar);
}

bool AutoHideMainWindow::IsPinned(const DockPageBar* bar) const {
    return std::any_of(m_strips.begin(), m_strips.end(),
                       [bar](const auto& entry) { return entry.second->HoldsItemsOf(bar); });
}

} // namespace calvora
