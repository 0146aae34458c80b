#include "app/gui/document_window.h"

#include "recording/recording_document.h"

#include <QCloseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

namespace calvora {

namespace {

// Border between the strip's frame and its display area.
constexpr int kDisplayInset = 2;

} // namespace

TabStrip::TabStrip(QWidget* parent) : QWidget(parent), tabBar_(new QTabBar(this)) {
    tabBar_->setObjectName(QStringLiteral("TabStrip%1").arg(DocumentWindow::kTabStripId));
    tabBar_->setDrawBase(false);
    tabBar_->setExpanding(false);
    tabBar_->setFocusPolicy(Qt::NoFocus);
    tabBar_->setContextMenuPolicy(Qt::PreventContextMenu);
}

QRect TabStrip::displayArea() const {
    const int top = tabBar_->sizeHint().height();
    return QRect(0, top, width(), height() - top)
        .adjusted(kDisplayInset, kDisplayInset, -kDisplayInset, -kDisplayInset);
}

void TabStrip::resizeEvent(QResizeEvent*) {
    tabBar_->setGeometry(0, 0, width(), tabBar_->sizeHint().height());
}

void TabStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.rect = displayArea().adjusted(-kDisplayInset, -kDisplayInset, kDisplayInset, kDisplayInset);
    option.shape = QTabBar::RoundedNorth;
    option.tabBarSize = tabBar_->sizeHint();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------------------

DocumentWindow::DocumentWindow(const TabTable& tabs, QWidget* parent) : QMdiSubWindow(parent), tabs_(tabs) {
    setAttribute(Qt::WA_DeleteOnClose);
    // "Arial bold", cell height 16, weight 500, a swiss (sans-serif) face.
    tabFont_.setFamilies(
        {QStringLiteral("Arial bold"), QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    tabFont_.setStyleHint(QFont::SansSerif);
    tabFont_.setPixelSize(13);
    tabFont_.setWeight(QFont::Medium);
}

DocumentWindow::~DocumentWindow() = default;

bool DocumentWindow::CreateClient(std::shared_ptr<RecordingDocument> document) {
    document_ = std::move(document);
    if (tabs_.groups.empty() || tabs_.defaultGroup < 0 ||
        tabs_.defaultGroup >= static_cast<int>(tabs_.groups.size())) {
        return false;
    }
    group_ = tabs_.defaultGroup;
    const TabGroup& group = this->group();
    if (group.tabTitles.isEmpty() || group.views.size() != static_cast<size_t>(group.tabTitles.size())) {
        return false;
    }
    setWindowTitle(group.title);

    client_ = new QWidget(this);
    client_->installEventFilter(this);
    dialogBar_ = new QWidget(client_);
    dialogBar_->setObjectName(QStringLiteral("DialogBar%1").arg(kDialogBarId));
    // Nothing fills the dialog bar's own tab control.
    auto* barTabs = new QTabBar(dialogBar_);
    barTabs->setObjectName(QStringLiteral("TabControl%1").arg(kDialogBarTabsId));
    barTabs->setDrawBase(false);
    strip_ = new TabStrip(client_);
    QTabBar* tabBar = strip_->tabBar();
    tabBar->setFont(tabFont_);
    tabBar->setShape(tabs_.tabStyle == 1 && tabs_.tabPosition == 1 ? QTabBar::RoundedSouth
                                                                   : QTabBar::RoundedNorth);
    {
        const QSignalBlocker blocker(tabBar);
        for (const QString& title : group.tabTitles) {
            tabBar->addTab(title);
        }
        tabBar->setCurrentIndex(0);
    }
    connect(tabBar, &QTabBar::currentChanged, this, [this](int index) { SwitchToTab(index); });
    setWidget(client_);

    view_ = CreateView(0);
    if (view_ == nullptr) {
        return false;
    }
    if (document_ != nullptr) {
        document_->activeTab = 0;
    }
    view_->OnInitialUpdate();
    view_->show();
    UpdateTitle();
    RecalcLayout();
    return true;
}

DocumentView* DocumentWindow::CreateView(int index) {
    const TabGroup& group = this->group();
    if (index < 0 || index >= static_cast<int>(group.views.size()) ||
        !group.views[static_cast<size_t>(index)]) {
        return nullptr;
    }
    DocumentView* view = group.views[static_cast<size_t>(index)](document_, client_);
    if (view != nullptr) {
        view->setParent(client_);
        view->raise();
        connect(view, &DocumentView::barsWanted, this, [this] {
            // Only after a print preview hid them: showing them lays the window out again.
            if (strip_ != nullptr && strip_->tabBar()->isHidden())
                ShowBars();
        });
        connect(view, &DocumentView::layoutWanted, this, &DocumentWindow::RecalcLayout);
    }
    return view;
}

bool DocumentWindow::SwitchToTab(int index) {
    if (group_ < 0) {
        return false;
    }
    if (index < 0 || index >= static_cast<int>(group().views.size())) {
        return false;
    }
    if (document_ != nullptr) {
        document_->activeTab = index;
    }
    if (strip_->tabBar()->currentIndex() != index) {
        const QSignalBlocker blocker(strip_->tabBar());
        strip_->tabBar()->setCurrentIndex(index);
    }
    // The window's own reference keeps the document alive while its only view goes.
    const std::shared_ptr<RecordingDocument> keep = document_;
    delete view_.data();
    view_ = CreateView(index);
    if (view_ == nullptr) {
        return false;
    }
    view_->OnInitialUpdate();
    view_->show();
    view_->setFocus(Qt::OtherFocusReason);
    RecalcLayout();
    Q_EMIT viewChanged(view_);
    return true;
}

int DocumentWindow::currentTab() const {
    return strip_ != nullptr ? strip_->tabBar()->currentIndex() : -1;
}

QRect DocumentWindow::viewRect() const {
    if (strip_ == nullptr) {
        return {};
    }
    // Exactly the display area: a view wider than it lost its right edge (the list's scroll bar) under the
    // window's border, and one shorter left a dead strip below it.
    return strip_->displayArea().translated(strip_->pos());
}

void DocumentWindow::RecalcLayout() {
    if (client_ == nullptr) {
        return;
    }
    // Nothing fills the dialog bar, so it takes no room: its empty strip above the tabs only pushed the
    // chart down.
    dialogBar_->setGeometry(0, 0, client_->width(), 0);
    strip_->setGeometry(0, 0, client_->width(), client_->height());
    if (view_ != nullptr) {
        view_->setGeometry(viewRect());
    }
}

void DocumentWindow::PrintPreview(QPrinter& printer) {
    if (strip_ != nullptr) {
        strip_->tabBar()->hide();
        dialogBar_->hide();
    }
    if (view_ != nullptr) {
        view_->PrintPreview(printer);
    }
}

void DocumentWindow::ShowBars() {
    if (strip_ != nullptr) {
        strip_->tabBar()->show();
        dialogBar_->show();
        RecalcLayout();
    }
}

void DocumentWindow::UpdateTitle() {
    if (document_ != nullptr) {
        setWindowTitle(QString::fromStdU16String(document_->title));
    }
}

bool DocumentWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == client_ && event->type() == QEvent::Resize) {
        RecalcLayout();
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void DocumentWindow::closeEvent(QCloseEvent* event) {
    bool accept = true;
    Q_EMIT closeRequested(this, accept);
    if (!accept) {
        event->ignore();
        return;
    }
    Q_EMIT aboutToClose(this);
    QMdiSubWindow::closeEvent(event);
}

} // namespace calvora
