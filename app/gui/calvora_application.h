// The application object: the command line, the start-up order, and the one place where the main window, the
// engine and its window side, the views and the prompts are built and connected.
#pragma once

#include "app/gui/document_window.h"
#include "publish/mqtt_publisher.h"
#include "publish/mqtt_target.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace calvora {

struct SharedChartState;
class AlarmCenter;
class DesktopNotifier;
class EngineLink;
class ExtraDevicesInventory;
class Journal;
class MainWindow;
class MeterEngine;
class MqttPublisher;
struct PublishChoice;
class ReceiverInventory;
class SettingsFile;
class UdevInventory;
class UserPrompts;

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

// The tabs of every document window: "Data Graph" and "Data List", their views made by these factories.
TabTable MakeDocumentTabTable(ViewFactory graphView, ViewFactory listView);

// What the desktop program takes from outside its windows. The program uses the system's; tests give their
// own. Everything named here must outlive the application object.
struct DesktopServices {
    ReceiverInventory& inventory;
    SettingsFile& settings;
    // Every live sample also goes here, for recovery after a crash; none when null.
    Journal* journal = nullptr;
    // Questions and messages; Qt message boxes over the main window when null.
    UserPrompts* prompts = nullptr;
    // Watches udev for receivers coming and going.
    bool monitorDevices = false;
};

class CalvoraApplication : public QObject {
    Q_OBJECT
public:
    CalvoraApplication();
    ~CalvoraApplication() override;

    // Builds the program on the system's services, runs the first receiver scan, shows the main window and
    // opens the command line's files. False when a step fails.
    bool InitInstance(const StartupOptions& options);
    // Builds the main window, the engine and its window side and connects them, on `services`; no scan,
    // nothing shown. False when the window cannot be made.
    bool Assemble(const DesktopServices& services);

    MainWindow* mainWindow() const { return window_.get(); }
    EngineLink* link() const { return link_.get(); }
    AlarmCenter* alarms() const { return alarms_.get(); }
    MeterEngine* engine() const { return engine_.get(); }
    UserPrompts& prompts() const { return *prompts_; }
    const QStringList& receiverPaths() const { return receiverPaths_; }
    // The first receiver's live readings' publisher while Settings › Publish Readings... has it on; null
    // otherwise.
    MqttPublisher* publisher() const { return publisher_.get(); }
    // The publisher of a session's readings (each connected receiver has one while publishing is on), else
    // null.
    MqttPublisher* publisherOf(const MeterEngine& engine) const;
    // Settings › Publish Readings...: asks, remembers and starts or stops publishing.
    void ChoosePublishing();
    // Starts (or, when the choice is off, stops) publishing; false with the reason shown when it cannot
    // start.
    bool ApplyPublishing(const PublishChoice& choice);

private:
    // A live recording that a crash left unsaved: offers to recover it or to throw it away.
    void OfferLeftJournal();
    // A session connected: it publishes under its name as it is now (the first one's publisher starts again
    // when its name changed).
    void OnSessionConnected(MeterEngine* engine);
    // Starts the publisher of `engine`'s readings; false with the reason shown when it cannot start.
    bool StartPublisher(MeterEngine& engine);

    // What the program's charts share (the remembered mark columns and function, the cursor's channel).
    std::shared_ptr<SharedChartState> charts_;
    QStringList receiverPaths_;
    // The system's services, when InitInstance made them.
    std::unique_ptr<UdevInventory> udev_;
    std::unique_ptr<ExtraDevicesInventory> inventory_;
    std::unique_ptr<SettingsFile> settings_;
    std::unique_ptr<Journal> journal_;

    TabTable tabTable_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<UserPrompts> ownPrompts_;
    UserPrompts* prompts_ = nullptr;
    std::unique_ptr<EngineLink> link_;
    std::unique_ptr<MeterEngine> engine_;
    // The alarms of every document's live readings; they end the engine's recording when asked to.
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<AlarmCenter> alarms_;
    // Publishing to a broker: the publisher, the password given this session, the status bar's refresh.
    std::unique_ptr<MqttPublisher> publisher_;
    // The further receivers' publishers, each with a connection, topics and seq of its own.
    std::map<const MeterEngine*, std::unique_ptr<MqttPublisher>> furtherPublishers_;
    std::optional<PublishSettings> publishing_;
    // The source (document title) of the alarm event told last: its actions follow it at once.
    std::u16string alarmSource_;
    std::string publishPassword_;
    MqttTarget brokerTarget_;
    QTimer brokerTimer_;
    void ShowBrokerState();
};

} // namespace calvora
