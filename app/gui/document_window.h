// The document window: a child window of the main frame's MDI area with a row of tabs across its top, one per
// view class; choosing a tab replaces the view by a new view of that tab's class on the same document.
#pragma once

#include "app/gui/document_view.h"

#include <QFont>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

class QMenu;
class QTabBar;
class QPrinter;

namespace calvora {

class RecordingDocument;

struct TabGroup {
    QString title;
    QStringList tabTitles;
    std::vector<ViewFactory> views; // one per title
};

struct TabTable {
    int defaultGroup = 0;
    int tabStyle = 1;    // 1: ordinary tabs; 0: tabs drawn as buttons
    int tabPosition = 0; // with style 1: 1 puts the tabs at the bottom, any other value at the top
    std::vector<TabGroup> groups;
};

// The tab strip: fills the frame's client area below the dialog bar; the view lies over its display area.
class TabStrip : public QWidget {
    Q_OBJECT
public:
    explicit TabStrip(QWidget* parent);
    QTabBar* tabBar() const { return tabBar_; }
    // The area below the tab row, inside the strip's border, in the strip's coordinates.
    QRect displayArea() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QTabBar* tabBar_;
};

class DocumentWindowBase : public QMdiSubWindow {
    Q_OBJECT
public:
    static constexpr int kTabStripId = 1000;
    static constexpr int kDialogBarId = 128;
    static constexpr int kDialogBarTabsId = 1003;

    explicit DocumentWindowBase(QWidget* parent = nullptr);
    ~DocumentWindowBase() override;

    // Builds the tab strip, the dialog bar and the first tab's view on `document`. False when the table has
    // no group or a part cannot be made; the frame then holds no view.
    bool CreateClient(std::shared_ptr<RecordingDocument> document);

    // The six operations a derived frame may change, in the original order.
    virtual void GetLayoutAdjustments(int& right, int& bottom) const;
    virtual bool SwitchToTab(int index);
    virtual QString TabTooltip(int index) const;
    virtual QMenu* TabContextMenu(int index) const;
    virtual bool suppressLayout() const;
    virtual const TabTable* tabTable() const = 0;

    // Hides the tab strip and the dialog bar and hands the preview to the view.
    void PrintPreview(QPrinter& printer);
    // Shows the strip and the bar again (the chart view calls this when it paints to the screen).
    void ShowBars();

    // Places the tab strip and the view.
    void RecalcLayout();

    DocumentView* activeView() const { return view_; }
    const std::shared_ptr<RecordingDocument>& documentPtr() const { return document_; }
    RecordingDocument* document() const { return document_.get(); }
    int currentTab() const;
    int groupInUse() const { return group_; }
    TabStrip* tabStrip() const { return strip_; }
    QWidget* dialogBar() const { return dialogBar_; }
    QFont tabFont() const { return tabFont_; }
    // The view's rectangle in the client widget: below the tab row at the display area's left and top,
    // 5 pixels wider and 20 pixels shorter than the display area.
    QRect viewRect() const;
    // Refreshes the window title from the document's title.
    void UpdateTitle();
    // The file the document was read from or last saved to with the framework's save; empty when none.
    QString pathName() const { return pathName_; }
    void SetPathName(const QString& path) { pathName_ = path; }

Q_SIGNALS:
    void viewChanged(calvora::DocumentView* view);
    // The user or the program asked to close the window; `accept` may be cleared by the handler.
    void closeRequested(calvora::DocumentWindowBase* frame, bool& accept);
    void aboutToClose(calvora::DocumentWindowBase* frame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    DocumentView* CreateView(int index);

    std::shared_ptr<RecordingDocument> document_;
    QWidget* client_ = nullptr;
    TabStrip* strip_ = nullptr;
    QWidget* dialogBar_ = nullptr;
    QFont tabFont_;
    const TabTable* table_ = nullptr;
    int group_ = -1;
    QStringList tooltips_;
    int rightAdjust_ = 0;
    int bottomAdjust_ = 0;
    QPointer<DocumentView> view_;
    QString pathName_;
};

// The document window of this program: takes its tabs from the table installed at start-up.
class DocumentWindow : public DocumentWindowBase {
    Q_OBJECT
public:
    explicit DocumentWindow(QWidget* parent = nullptr) : DocumentWindowBase(parent) {}

    bool suppressLayout() const override { return false; }
    const TabTable* tabTable() const override { return s_table; }

    // Installed once at start-up (tests install their own); the table must outlive every frame.
    static void InstallTabTable(const TabTable* table) { s_table = table; }
    static const TabTable* InstalledTabTable() { return s_table; }

private:
    static inline const TabTable* s_table = nullptr;
};

} // namespace calvora
