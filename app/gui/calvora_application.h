// The application object: start-up order, the command line, the tab table and the main frame.
#pragma once

#include "app/gui/document_window.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

namespace calvora {

class MainWindow;
struct ChartHooks;
struct SharedChartState;
class EngineLink;
class ExtraDevicesInventory;
class Journal;
class SettingsFile;
class UdevInventory;

struct StartupOptions {
    QStringList files;
    // Device paths (such as the simulator's pseudo-terminal) added to the receiver list.
    QStringList ports;
};

enum class ParseOutcome { Run, ShowHelp, ShowVersion, Error };

struct ParsedCommandLine {
    ParseOutcome outcome = ParseOutcome::Run;
    StartupOptions options;
    // The help text, the version line or the error message, for standard output or error.
    QString text;
};

// `arguments` includes the program name first.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);

// The tabs of every document window: "Data Graph" and "Data List". Views made by the factories given here;
// null factories fall back to the plain-text views.
TabTable MakeDocumentTabTable(ViewFactory graphView = {}, ViewFactory listView = {});

class CalvoraApplication : public QObject {
    Q_OBJECT
public:
    CalvoraApplication();
    ~CalvoraApplication() override;

    // Installs the tab table, creates the main frame, opens the command line's files and shows the frame.
    // False when a step fails.
    bool InitInstance(const StartupOptions& options);

    MainWindow* mainFrame() const { return frame_.get(); }
    EngineLink* engine() const { return engine_.get(); }
    const QStringList& receiverPaths() const { return receiverPaths_; }

private:
    // A live recording that a crash left unsaved: offers to recover it or to throw it away.
    void OfferLeftJournal();
    ChartHooks MakeChartHooks();

    TabTable tabTable_;
    // What the program's charts share (the remembered mark columns and function, the cursor's channel).
    std::shared_ptr<SharedChartState> charts_;
    QStringList receiverPaths_;
    std::unique_ptr<UdevInventory> udev_;
    std::unique_ptr<ExtraDevicesInventory> inventory_;
    std::unique_ptr<SettingsFile> settings_;
    // Declared before the engine so it outlives it: the engine records into it until it is destroyed.
    std::unique_ptr<Journal> journal_;
    std::unique_ptr<MainWindow> frame_;
    std::unique_ptr<EngineLink> engine_;
};

} // namespace calvora
