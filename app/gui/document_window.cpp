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
// The dialog bar: 17 dialog units high.
int DialogBarHeight(const QWidget* widget) {
    return (17 * widget->fontMetrics().height() + 4) / 8;
}

} // namespace

TabStrip::TabStrip(QWidget* parent) : QWidget(parent), m_tabBar(new QTabBar(this)) {
    m_tabBar->setObjectName(QStringLiteral("TabStrip%1").arg(DocumentWindowBase::kTabStripId));
    m_tabBar->setDrawBase(false);
    m_tabBar->setExpanding(false);
    m_tabBar->setFocusPolicy(Qt::NoFocus);
    m_tabBar->setContextMenuPolicy(Qt::PreventContextMenu);
}

QRect TabStrip::DisplayArea() const {
    const int top = m_tabBar->sizeHint().height();
    return QRect(0, top, width(), height() - top)
        .adjusted(kDisplayInset, kDisplayInset, -kDisplayInset, -kDisplayInset);
}

void TabStrip::resizeEvent(QResizeEvent*) {
    m_tabBar->setGeometry(0, 0, width(), m_tabBar->sizeHint().height());
}

void TabStrip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame option;
    option.initFrom(this);
    option.rect = DisplayArea().adjusted(-kDisplayInset, -kDisplayInset, kDisplayInset, kDisplayInset);
    option.shape = QTabBar::RoundedNorth;
    option.tabBarSize = m_tabBar->sizeHint();
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, this);
}

// ---------------------------------------------------------------------------------------------------------

DocumentWindowBase::DocumentWindowBase(QWidget* parent) : QMdiSubWindow(parent) {
    setAttribute(Qt::WA_DeleteOnClose);
    // "Arial bold", cell height 16, weight 500, a swiss (sans-serif) face.
    m_tabFont.setFamilies(
        {QStringLiteral("Arial bold"), QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    m_tabFont.setStyleHint(QFont::SansSerif);
    m_tabFont.setPixelSize(13);
    m_tabFont.setWeight(QFont::Medium);
}

DocumentWindowBase::~DocumentWindowBase() = default;

void DocumentWindowBase::GetLayoutAdjustments(int& right, int& bottom) const {
    right = m_rightAdjust;
    bottom = m_bottomAdjust;
}

QString DocumentWindowBase::TabTooltip(int index) const {
    return index >= 0 && index < m_tooltips.size() ? m_tooltips[index] : QString();
}

QMenu* DocumentWindowBase::TabContextMenu(int) const {
    return nullptr;
}

bool DocumentWindowBase::SuppressLayout() const {
    return false;
}

bool DocumentWindowBase::CreateClient(std::shared_ptr<RecordingDocument> document) {
    m_document = std::move(document);
    m_table = GetTabTable();
    if (m_table == nullptr || m_table->groups.empty() || m_table->defaultGroup < 0 ||
        m_table->defaultGroup >= static_cast<int>(m_table->groups.size())) {
        return false;
    }
    m_group = m_table->defaultGroup;
    const TabGroup& group = m_table->groups[static_cast<size_t>(m_group)];
    if (group.tabTitles.isEmpty() || group.views.size() != static_cast<size_t>(group.tabTitles.size())) {
        return false;
    }
    setWindowTitle(group.title);

    m_client = new QWidget(this);
    m_client->installEventFilter(this);
    m_dialogBar = new QWidget(m_client);
    m_dialogBar->setObjectName(QStringLiteral("DialogBar%1").arg(kDialogBarId));
    // Nothing fills the dialog bar's own tab control.
    auto* barTabs = new QTabBar(m_dialogBar);
    barTabs->setObjectName(QStringLiteral("TabControl%1").arg(kDialogBarTabsId));
    barTabs->setDrawBase(false);
    m_strip = new TabStrip(m_client);
    QTabBar* tabs = m_strip->TabBar();
    tabs->setFont(m_tabFont);
    tabs->setShape(m_table->tabStyle == 1 && m_table->tabPosition == 1 ? QTabBar::RoundedSouth
                                                                       : QTabBar::RoundedNorth);
    m_rightAdjust = 0;
    m_bottomAdjust = 0;
    m_tooltips.clear();
    {
        const QSignalBlocker blocker(tabs);
        while (tabs->count() > 0) {
            tabs->removeTab(0);
        }
        for (const QString& title : group.tabTitles) {
            tabs->addTab(title);
            m_tooltips.append(QString());
        }
        tabs->setCurrentIndex(0);
    }
    connect(tabs, &QTabBar::currentChanged, this, [this](int index) { SwitchToTab(index); });
    setWidget(m_client);

    m_view = CreateView(0);
    if (m_view == nullptr) {
        return false;
    }
    if (m_document != nullptr) {
        m_document->activeTab = 0;
    }
    m_view->OnInitialUpdate();
    m_view->show();
    UpdateTitle();
    RecalcLayout();
    return true;
}

DocumentView* DocumentWindowBase::CreateView(int index) {
    const TabGroup& group = m_table->groups[static_cast<size_t>(m_group)];
    if (index < 0 || index >= static_cast<int>(group.views.size()) ||
        !group.views[static_cast<size_t>(index)]) {
        return nullptr;
    }
    DocumentView* view = group.views[static_cast<size_t>(index)](m_document, m_client);
    if (view != nullptr) {
        view->setParent(m_client);
        view->raise();
    }
    return view;
}

bool DocumentWindowBase::SwitchToTab(int index) {
    if (m_table == nullptr || m_group < 0) {
        return false;
    }
    const TabGroup& group = m_table->groups[static_cast<size_t>(m_group)];
    if (index < 0 || index >= static_cast<int>(group.views.size())) {
        return false;
    }
    if (m_document != nullptr) {
        m_document->activeTab = index;
    }
    if (m_strip->TabBar()->currentIndex() != index) {
        const QSignalBlocker blocker(m_strip->TabBar());
        m_strip->TabBar()->setCurrentIndex(index);
    }
    // The frame's own reference keeps the document alive while its only view goes.
    const std::shared_ptr<RecordingDocument> keep = m_document;
    delete m_view.data();
    m_view = CreateView(index);
    if (m_view == nullptr) {
        return false;
    }
    m_view->OnInitialUpdate();
    m_view->show();
    m_view->setFocus(Qt::OtherFocusReason);
    RecalcLayout();
    Q_EMIT viewChanged(m_view);
    return true;
}

int DocumentWindowBase::CurrentTab() const {
    return m_strip != nullptr ? m_strip->TabBar()->currentIndex() : -1;
}

QRect DocumentWindowBase::ViewRect() const {
    if (m_strip == nullptr) {
        return {};
    }
    int right = 0;
    int bottom = 0;
    GetLayoutAdjustments(right, bottom);
    const QRect display = m_strip->DisplayArea().translated(m_strip->pos());
    return {display.left(), display.top(), display.width() - right + 5, display.height() - bottom - 20};
}

void DocumentWindowBase::RecalcLayout() {
    if (m_client == nullptr || SuppressLayout()) {
        return;
    }
    const int barHeight = !m_dialogBar->isHidden() ? DialogBarHeight(m_client) : 0;
    m_dialogBar->setGeometry(0, 0, m_client->width(), barHeight);
    m_strip->setGeometry(0, barHeight, m_client->width(), m_client->height() - barHeight);
    if (m_view != nullptr) {
        m_view->setGeometry(ViewRect());
    }
}

void DocumentWindowBase::PrintPreview(QPrinter& printer) {
    if (m_strip != nullptr) {
        m_strip->TabBar()->hide();
        m_dialogBar->hide();
    }
    if (m_view != nullptr) {
        m_view->PrintPreview(printer);
    }
}

void DocumentWindowBase::ShowBars() {
    if (m_strip != nullptr) {
        m_strip->TabBar()->show();
        m_dialogBar->show();
        RecalcLayout();
    }
}

void DocumentWindowBase::UpdateTitle() {
    if (m_document != nullptr) {
        setWindowTitle(QString::fromStdU16String(m_document->title));
    }
}

bool DocumentWindowBase::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_client && event->type() == QEvent::Resize) {
        RecalcLayout();
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void DocumentWindowBase::closeEvent(QCloseEvent* event) {
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
