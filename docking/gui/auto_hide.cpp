#include "docking/gui/auto_hide.h"

#include <QApplication>
#include <QDrag>
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
    : QWidget(parent), side_(side), probe_(PointerProbe::System()) {
    setObjectName(QStringLiteral("AutoHideFloatWnd"));
    captionFont_ = QFont(QStringLiteral("Tahoma"));
    captionFont_.setPointSizeF(8.5);
    panel_ = new QWidget(this);
    panel_->setAutoFillBackground(true);
    panel_->installEventFilter(this);
    hide();
    inTimer_.setInterval(kStepMs);
    outTimer_.setInterval(kStepMs);
    leaveTimer_.setInterval(kLeavePollMs);
    connect(&inTimer_, &QTimer::timeout, this, &AutoHideFlyout::SlideInStep);
    connect(&outTimer_, &QTimer::timeout, this, &AutoHideFlyout::SlideOutStep);
    connect(&leaveTimer_, &QTimer::timeout, this, &AutoHideFlyout::LeavePoll);
}

AutoHideFlyout::~AutoHideFlyout() = default;

void AutoHideFlyout::SetPage(DockPage* page) {
    if (page_ != nullptr && page_ != page && page_->window != nullptr &&
        page_->window->parentWidget() == panel_) {
        page_->window->hide();
    }
    page_ = page;
    if (page_ != nullptr && page_->window != nullptr) {
        page_->window->setParent(panel_);
        LayoutPage();
        page_->window->show();
    }
    panel_->update();
}

void AutoHideFlyout::ReleasePage() {
    page_ = nullptr;
}

void AutoHideFlyout::SetTargetRect(const QRect& rect) {
    target_ = rect;
    panel_->resize(rect.size());
    LayoutPage();
}

QMargins AutoHideFlyout::borderMargins() const {
    // The frame border sits on the side facing the frame's centre.
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, this);
    switch (side_) {
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
    if (page_ == nullptr || page_->window == nullptr) {
        return;
    }
    const QRect inner = panel_->rect().marginsRemoved(borderMargins());
    page_->window->setGeometry(inner.adjusted(2, kCaptionHeight, -2, -2));
}

QRect AutoHideFlyout::closeButtonRect() const {
    const QRect inner = panel_->rect().marginsRemoved(borderMargins());
    return {inner.right() - 16, inner.top() + 3, 13, 14};
}

QRect AutoHideFlyout::pinButtonRect() const {
    return closeButtonRect().translated(-17, 0);
}

bool AutoHideFlyout::IsTimerRunning(int id) const {
    switch (id) {
    case kSlideTimerIn:
        return inTimer_.isActive();
    case kSlideTimerOut:
        return outTimer_.isActive();
    case kLeaveTimer:
        return leaveTimer_.isActive();
    default:
        return false;
    }
}

void AutoHideFlyout::StartSlide(bool out, int durationMs) {
    inTimer_.stop();
    outTimer_.stop();
    steps_ = std::max(1, durationMs / kStepMs);
    sliding_ = true;
    if (out) {
        position_ = 0;
        PlaceAtStep(1);
        show();
        raise();
        leaveTimer_.start();
        outTimer_.start();
    } else {
        position_ = steps_ - 1;
        leaveTimer_.stop();
        inTimer_.start();
    }
}

void AutoHideFlyout::SlideOutStep() {
    if (position_ < steps_ - 1) {
        ++position_;
        PlaceAtStep(position_ + 1);
        return;
    }
    PlaceAtStep(steps_);
    show();
    outTimer_.stop();
    sliding_ = false;
}

void AutoHideFlyout::SlideInStep() {
    if (position_ >= 0) {
        --position_;
    }
    if (position_ < 0) {
        inTimer_.stop();
        hide();
        position_ = steps_ - 1;
        sliding_ = false;
        return;
    }
    PlaceAtStep(position_ + 1);
}

void AutoHideFlyout::LeavePoll() {
    const QRect global(mapToGlobal(QPoint(0, 0)), size());
    if (global.contains(probe_.globalPosition()) || probe_.dragging() || probe_.captured()) {
        return;
    }
    leaveTimer_.stop();
    StartSlide(false);
}

void AutoHideFlyout::HideNow() {
    inTimer_.stop();
    outTimer_.stop();
    leaveTimer_.stop();
    sliding_ = false;
    position_ = steps_ - 1;
    hide();
}

void AutoHideFlyout::PlaceAtStep(int shownSteps) {
    const QRect t = target_;
    switch (side_) {
    case Qt::LeftDockWidgetArea: {
        const int w = t.width() * shownSteps / steps_;
        setGeometry(t.left(), t.top(), w, t.height());
        panel_->move(w - t.width(), 0);
        break;
    }
    case Qt::RightDockWidgetArea: {
        const int w = t.width() * shownSteps / steps_;
        setGeometry(t.right() - w + 1, t.top(), w, t.height());
        panel_->move(0, 0);
        break;
    }
    case Qt::TopDockWidgetArea: {
        const int h = t.height() * shownSteps / steps_;
        setGeometry(t.left(), t.top(), t.width(), h);
        panel_->move(0, h - t.height());
        break;
    }
    default: {
        const int h = t.height() * shownSteps / steps_;
        setGeometry(t.left(), t.bottom() - h + 1, t.width(), h);
        panel_->move(0, 0);
        break;
    }
    }
}

bool AutoHideFlyout::eventFilter(QObject* watched, QEvent* event) {
    if (watched != panel_) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::Paint: {
        QPainter painter(panel_);
        const QRect all = panel_->rect();
        const QRect inner = all.marginsRemoved(borderMargins());
        painter.fillRect(all, panel_->palette().window());
        painter.setPen(panel_->palette().color(QPalette::Dark));
        painter.drawRect(all.adjusted(0, 0, -1, -1));
        const QRect strip(inner.left() + 1, inner.top() + 1, inner.width() - 2, 16);
        painter.setPen(kInactiveOutline);
        painter.drawRect(strip.adjusted(0, 0, -1, -1));
        painter.setFont(captionFont_);
        painter.setPen(panel_->palette().color(QPalette::WindowText));
        const QString title = page_ != nullptr ? page_->title : QString();
        painter.drawText(strip.adjusted(4, 1, -40, 0), Qt::AlignLeft | Qt::AlignVCenter, title);
        DrawCloseButton(painter, closeButtonRect(), pressedButton_ == 1);
        DrawPinButton(painter, pinButtonRect(), pressedButton_ == 2);
        return true;
    }
    case QEvent::MouseButtonPress: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        pressedButton_ = closeButtonRect().contains(pos) ? 1 : pinButtonRect().contains(pos) ? 2 : 0;
        panel_->update();
        return pressedButton_ != 0;
    }
    case QEvent::MouseButtonRelease: {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QPoint pos = mouse->position().toPoint();
        const int pressed = pressedButton_;
        pressedButton_ = 0;
        panel_->update();
        if (pressed == 1 && closeButtonRect().contains(pos)) {
            Q_EMIT closeClicked();
        } else if (pressed == 2 && pinButtonRect().contains(pos)) {
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
    : QToolBar(frame), side_(side), controlId_(AutoHideBarIdForSide(side)), frame_(frame) {
    setObjectName(QStringLiteral("AutoHideBar%1").arg(controlId_));
    setMovable(false);
    setFloatable(false);
    setAllowedAreas(ToolBarAreaFor(side));
    setOrientation(horizontal() ? Qt::Horizontal : Qt::Vertical);
    setMouseTracking(true);
    setContextMenuPolicy(Qt::PreventContextMenu);
    if (horizontal()) {
        setFixedHeight(AutoHideBarThickness(side));
    } else {
        setFixedWidth(AutoHideBarThickness(side));
    }
    hoverTimer_.setSingleShot(true);
    hoverTimer_.setInterval(kHoverMs);
    connect(&hoverTimer_, &QTimer::timeout, this, &AutoHideStrip::HoverTimeout);
    float_ = new AutoHideFlyout(side, frame);
    connect(float_, &AutoHideFlyout::pinClicked, this, [this] {
        if (shownOwner_ != nullptr) {
            Q_EMIT pinBackRequested(shownOwner_);
        }
    });
    connect(float_, &AutoHideFlyout::closeClicked, this, [this] {
        if (shownOwner_ != nullptr) {
            Q_EMIT hideRequested(shownOwner_);
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
    items_.push_back(Item{std::move(page), owner, ownerSide, ownerSize});
    ItemsChanged();
}

std::vector<std::unique_ptr<DockPage>> AutoHideStrip::TakeItemsOf(const DockPageBar* owner) {
    std::vector<std::unique_ptr<DockPage>> taken;
    if (shownOwner_ == owner) {
        float_->HideNow();
        float_->ReleasePage();
        shown_ = nullptr;
        shownOwner_ = nullptr;
    }
    for (auto it = items_.begin(); it != items_.end();) {
        if (it->owner == owner) {
            taken.push_back(std::move(it->page));
            it = items_.erase(it);
        } else {
            ++it;
        }
    }
    active_ = -1;
    ItemsChanged();
    return taken;
}

bool AutoHideStrip::HoldsItemsOf(const DockPageBar* owner) const {
    return std::any_of(items_.begin(), items_.end(),
                       [owner](const Item& item) { return item.owner == owner; });
}

Qt::DockWidgetArea AutoHideStrip::OwnerSide(const DockPageBar* owner) const {
    for (const Item& item : items_) {
        if (item.owner == owner) {
            return item.ownerSide;
        }
    }
    return Qt::NoDockWidgetArea;
}

std::vector<int> AutoHideStrip::lengths() const {
    const QFontMetrics metrics(font());
    std::vector<int> widths;
    widths.reserve(items_.size());
    for (const Item& item : items_) {
        widths.push_back(metrics.horizontalAdvance(item.page->title));
    }
    return StripItemLengths(widths, active_);
}

QRect AutoHideStrip::ItemRect(int index) const {
    const std::vector<int> lengths = this->lengths();
    if (index < 0 || index >= static_cast<int>(lengths.size())) {
        return {};
    }
    const int start = std::accumulate(lengths.begin(), lengths.begin() + index, 0);
    const int thickness = AutoHideBarThickness(side_);
    const int length = lengths[static_cast<size_t>(index)];
    return horizontal() ? QRect(start, 0, length, thickness) : QRect(0, start, thickness, length);
}

int AutoHideStrip::ItemAt(QPoint pos) const {
    for (int i = 0; i < itemCount(); ++i) {
        if (ItemRect(i).contains(pos)) {
            return i;
        }
    }
    return -1;
}

QSize AutoHideStrip::sizeHint() const {
    const std::vector<int> lengths = this->lengths();
    const int length = std::accumulate(lengths.begin(), lengths.end(), 0);
    const int thickness = AutoHideBarThickness(side_);
    return horizontal() ? QSize(length, thickness) : QSize(thickness, length);
}

QSize AutoHideStrip::minimumSizeHint() const {
    return sizeHint();
}

QRect AutoHideStrip::FloatTarget(const Item& item) const {
    // The float window covers the frame between the strips: the central area and the docked bars.
    QRect inner = frame_->centralWidget() != nullptr ? frame_->centralWidget()->geometry() : frame_->rect();
    for (QDockWidget* dock : frame_->findChildren<QDockWidget*>(Qt::FindDirectChildrenOnly)) {
        if (dock->isVisible() && !dock->isFloating()) {
            inner = inner.united(dock->geometry());
        }
    }
    const QRect strip = geometry();
    const int border = float_->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth, nullptr, float_);
    const int across = horizontal() ? item.ownerSize.height() + border : item.ownerSize.width() + border;
    switch (side_) {
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
    if (index < 0 || index >= itemCount()) {
        return;
    }
    Item& item = items_[static_cast<size_t>(index)];
    active_ = index;
    const bool alreadyOut = shown_ == item.page.get() && float_->isVisible() &&
                            !float_->IsTimerRunning(AutoHideFlyout::kSlideTimerIn);
    if (!alreadyOut) {
        shown_ = item.page.get();
        shownOwner_ = item.owner;
        float_->SetTargetRect(FloatTarget(item));
        float_->SetPage(shown_);
        float_->StartSlide(true);
    }
    updateGeometry();
    update();
}

void AutoHideStrip::HoverTimeout() {
    ShowItem(ItemAt(hoverPos_));
}

void AutoHideStrip::ItemsChanged() {
    setVisible(!items_.empty());
    updateGeometry();
    update();
}

void AutoHideStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.setPen(palette().color(QPalette::Dark));
    // The border towards the frame's centre.
    switch (side_) {
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
    for (int i = 0; i < itemCount(); ++i) {
        const DockPage& page = *items_[static_cast<size_t>(i)].page;
        const QRect r = ItemRect(i).adjusted(1, 1, -2, -2);
        painter.setPen(palette().color(QPalette::Dark));
        painter.fillRect(r, i == active_ ? palette().base() : palette().button());
        painter.drawRect(r);
        const QRect iconRect = horizontal() ? QRect(r.left() + 3, r.center().y() - 7, 16, 16)
                                            : QRect(r.center().x() - 7, r.top() + 3, 16, 16);
        if (!page.icon.isNull()) {
            page.icon.paint(&painter, iconRect);
        }
        if (i != active_) {
            continue;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        if (horizontal()) {
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
    hoverPos_ = event->position().toPoint();
    hoverTimer_.start();
}

void AutoHideStrip::mousePressEvent(QMouseEvent* event) {
    hoverTimer_.stop();
    ShowItem(ItemAt(event->position().toPoint()));
}

void AutoHideStrip::leaveEvent(QEvent*) {
    hoverTimer_.stop();
    if (active_ >= 0) {
        active_ = -1;
        updateGeometry();
        update();
    }
}

// ---------------------------------------------------------------------------------------------------------

AutoHideStrips::AutoHideStrips(QMainWindow& window) : QObject(&window), window_(window) {
}

AutoHideStrips::~AutoHideStrips() = default;

void AutoHideStrips::EnableDocking(Qt::DockWidgetAreas sides) {
    for (Qt::DockWidgetArea side : kSides) {
        if (!sides.testFlag(side) || strips_.count(side) != 0) {
            continue;
        }
        auto* strip = new AutoHideStrip(side, &window_);
        if (side == Qt::TopDockWidgetArea) {
            // Below the toolbar, on a line of its own.
            window_.addToolBarBreak(Qt::TopToolBarArea);
        }
        window_.addToolBar(ToolBarAreaFor(side), strip);
        strip->hide();
        connect(strip, &AutoHideStrip::pinBackRequested, this,
                [this](DockPageBar* bar) { UnpinBar(bar, true); });
        connect(strip, &AutoHideStrip::hideRequested, this,
                [this](DockPageBar* bar) { UnpinBar(bar, false); });
        strips_[side] = strip;
    }
}

AutoHideStrip* AutoHideStrips::Strip(Qt::DockWidgetArea side) const {
    const auto it = strips_.find(side);
    return it == strips_.end() ? nullptr : it->second;
}

void AutoHideStrips::AttachPageBar(DockPageBar* bar) {
    connect(bar, &DockPageBar::pinRequested, this, &AutoHideStrips::PinBar);
}

void AutoHideStrips::PinBar(DockPageBar* bar) {
    if (bar == nullptr || IsPinned(bar)) {
        return;
    }
    const Qt::DockWidgetArea side = bar->dockSide();
    AutoHideStrip* strip = Strip(side);
    if (strip == nullptr || bar->pageCount() == 0) {
        return;
    }
    const QSize size = bar->size();
    while (bar->pageCount() > 0) {
        if (bar->activePageIndex() < 0) {
            bar->ActivatePage(0);
        }
        strip->AddItem(bar->RemoveActivePage(), bar, side, size);
    }
    bar->hide();
    Q_EMIT pinStateChanged(bar);
}

void AutoHideStrips::UnpinBar(DockPageBar* bar, bool show) {
    for (auto& [side, strip] : strips_) {
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

bool AutoHideStrips::IsPinned(const DockPageBar* bar) const {
    return std::any_of(strips_.begin(), strips_.end(),
                       [bar](const auto& entry) { return entry.second->HoldsItemsOf(bar); });
}

} // namespace calvora
