// The document window: a child window of the main window's MDI area with a row of tabs across its top, one
// per kind of view; choosing a tab replaces the view by a new view of that tab's kind on the same document.
#pragma once

#include "recording/gui/document_view.h"

#include <QFont>
#include <QMdiSubWindow>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

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

// The tab strip: fills the window's client area; the view lies over its display area.
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

class DocumentWindow : public QMdiSubWindow {
    Q_OBJECT
public:
    static constexpr int kTabStripId = 1000;
    static constexpr int kDialogBarId = 128;
    static constexpr int kDialogBarTabsId = 1003;

    // `tabs` names the tabs and makes their views; it must outlive the window.
    explicit DocumentWindow(const TabTable& tabs, QWidget* parent = nullptr);
    ~DocumentWindow() override;

    // Builds the tab strip, the dialog bar and the first tab's view on `document`. False when the table has
    // no group or a part cannot be made; the window then holds no view.
    bool CreateClient(std::shared_ptr<RecordingDocument> document);
    // Replaces the view by a new view of tab `index` on the same document. False for a tab that does not
    // exist or whose view cannot be made.
    bool SwitchToTab(int index);

    // Hides the tab strip and the dialog bar and hands the preview to the view.
    void PrintPreview(QPrinter& printer);
    // Shows the strip and the bar again (the views call this once a print preview is over).
    void ShowBars();

    // Places the tab strip and the view.
    void RecalcLayout();

    DocumentView* activeView() const { return view_; }
    RecordingDocument* document() const { return document_.get(); }
    int currentTab() const;
    TabStrip* tabStrip() const { return strip_; }
    QWidget* dialogBar() const { return dialogBar_; }
    QFont tabFont() const { return tabFont_; }
    // The view's rectangle in the client widget: the display area below the tab row.
    QRect viewRect() const;
    // Refreshes the window title from the document's title.
    void UpdateTitle();
    // The file the document was read from or last saved to with the framework's save; empty when none.
    QString pathName() const { return pathName_; }
    void SetPathName(const QString& path) { pathName_ = path; }

Q_SIGNALS:
    void viewChanged(calvora::DocumentView* view);
    // The user or the program asked to close the window; `accept` may be cleared by the handler.
    void closeRequested(calvora::DocumentWindow* window, bool& accept);
    void aboutToClose(calvora::DocumentWindow* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    DocumentView* CreateView(int index);
    const TabGroup& group() const { return tabs_.groups[static_cast<size_t>(group_)]; }

    const TabTable& tabs_;
    std::shared_ptr<RecordingDocument> document_;
    QWidget* client_ = nullptr;
    TabStrip* strip_ = nullptr;
    QWidget* dialogBar_ = nullptr;
    QFont tabFont_;
    // The group in use; -1 until the client is built.
    int group_ = -1;
    QPointer<DocumentView> view_;
    QString pathName_;
};

} // namespace calvora
