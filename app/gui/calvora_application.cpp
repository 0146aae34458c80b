#include "app/gui/calvora_application.h"

#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "app/gui/message_prompts.h"
#include "app/gui/publish_dialog.h"
#include "app/meter_engine.h"
#include "chart/gui/chart_document_view.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "measure/gui/alarm_center.h"
#include "measure/gui/desktop_notifier.h"
#include "measure/gui/limits_dialog.h"
#include "protocol/text.h"
#include "recording/gui/data_list_view.h"
#include "recording/journal.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>

namespace calvora {

ParsedCommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Desktop companion of the true-RMS multimeter."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Add the serial device PATH to the receiver list."),
                                        QStringLiteral("PATH"));
    parser.addOption(portOption);
    parser.addPositionalArgument(QStringLiteral("file"),
                                 QStringLiteral("A .recorder or .calvlog file to open."),
                                 QStringLiteral("[file]"));
    ParsedCommandLine parsed;
    if (!parser.parse(arguments)) {
        parsed.outcome = ParseOutcome::Error;
        parsed.text = parser.errorText();
        return parsed;
    }
    // addHelpOption also offers --help-all, which only QCoreApplication::process would act on.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        parsed.outcome = ParseOutcome::ShowHelp;
        parsed.text = parser.helpText();
        // Without an application object (help needs no display) Qt cannot name the program itself.
        parsed.text.replace(QStringLiteral("<executable_name>"), QStringLiteral("calvora"));
        return parsed;
    }
    if (parser.isSet(versionOption)) {
        parsed.outcome = ParseOutcome::ShowVersion;
        parsed.text = QStringLiteral("Calvora %1\n").arg(QCoreApplication::applicationVersion());
        return parsed;
    }
    parsed.options.files = parser.positionalArguments();
    parsed.options.ports = parser.values(portOption);
    return parsed;
}

TabTable MakeDocumentTabTable(ViewFactory graphView, ViewFactory listView) {
    TabTable table;
    table.defaultGroup = 0;
    table.tabStyle = 1;
    table.tabPosition = 0;
    TabGroup group;
    group.tabTitles = {QStringLiteral("Data Graph"), QStringLiteral("Data List")};
    group.views = {std::move(graphView), std::move(listView)};
    table.groups.push_back(std::move(group));
    return table;
}

CalvoraApplication::CalvoraApplication() : charts_(std::make_shared<SharedChartState>()) {
}

CalvoraApplication::~CalvoraApplication() {
    // The broker is told "offline" while everything that feeds it still stands.
    brokerTimer_.stop();
    furtherPublishers_.clear();
    publisher_.reset();
    // The port and its reader stop first, while the window still stands; then the window with its views,
    // before the link and the engine they report to.
    if (link_ != nullptr) {
        link_->Stop();
    }
    // The window's documents go with it; their watchers go first.
    alarms_.reset();
    window_.reset();
    link_.reset();
    engine_.reset();
}

bool CalvoraApplication::InitInstance(const StartupOptions& options) {
    // The Windows start-up steps for the component system, its security, sockets and OLE have no counterpart
    // here: nothing in this program uses them.
    receiverPaths_ = options.ports;
    std::vector<std::string> devices;
    for (const QString& port : receiverPaths_) {
        devices.push_back(port.toStdString());
    }
    udev_ = std::make_unique<UdevInventory>();
    inventory_ = std::make_unique<ExtraDevicesInventory>(*udev_, std::move(devices));
    settings_ = std::make_unique<SettingsFile>(SettingsFile::DefaultPath());
    journal_ = std::make_unique<Journal>();
    if (!Assemble({.inventory = *inventory_,
                   .settings = *settings_,
                   .journal = journal_.get(),
                   .prompts = nullptr,
                   .monitorDevices = true})) {
        return false;
    }
    // The receiver scan ends the main window's creation: the port is not opened here.
    link_->Start();
    window_->RestoreWindowState();
    // Shown before the command line's file opens, so that its window is sized to a laid-out MDI area.
    window_->show();
    OfferLeftJournal();
    for (const QString& file : options.files) {
        window_->OpenDocumentFile(file);
    }
    // Publishing left on goes on (a password is asked for again in the dialog: it is never stored).
    QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
    ApplyPublishing(LoadPublishChoice(settings, {}));
    return true;
}

bool CalvoraApplication::Assemble(const DesktopServices& services) {
    // The main window with its menus, bars and Instrument page. Its document windows take their tabs from
    // tabTable_, which is filled below, before any document window can open.
    window_ = std::make_unique<MainWindow>(tabTable_);
    if (!window_->Create()) {
        window_.reset();
        return false;
    }
    MainWindow* window = window_.get();

    // Questions and messages, for the window's commands and the engine alike.
    if (services.prompts == nullptr) {
        ownPrompts_ = std::make_unique<MessageBoxPrompts>(window);
    }
    prompts_ = services.prompts != nullptr ? services.prompts : ownPrompts_.get();

    // The engine and its window side. The engine runs on this thread; the serial reader thread hands each
    // frame over and waits, and the wake-up below queues the link's call that runs the frame here.
    link_ = std::make_unique<EngineLink>(*window, *prompts_, services.monitorDevices);
    EngineLink* link = link_.get();
    engine_ = std::make_unique<MeterEngine>(*link, services.inventory, services.settings, [link] {
        QMetaObject::invokeMethod(link, &EngineLink::RunPendingFrames, Qt::QueuedConnection);
    });
    MeterEngine* engine = engine_.get();
    link->SetEngine(*engine, services.inventory, services.settings, services.journal != nullptr);
    engine->SetJournal(services.journal);

    // The window hands the meter's commands, its timers and its close requests to the link; its document
    // commands share the engine's recording flags.
    window->Attach(*link, engine->documents(), *prompts_);

    // Limits and alarms: every document starts with the limits kept for new documents, and its live readings
    // are held to them; an alarm that is to stop the recording stops the engine's.
    notifier_ = std::make_unique<DesktopNotifier>();
    // The alarm's actions follow its event, which names the document: the recording stopped is the one of
    // the receiver that records into it.
    alarms_ = std::make_unique<AlarmCenter>(notifier_.get(), window->alarmList(), [this, engine] {
        MeterEngine* owner = link_->desk().recordingTitled(alarmSource_);
        (owner != nullptr ? owner : engine)->StopRecording();
    });
    AlarmCenter* alarms = alarms_.get();
    connect(window, &MainWindow::documentOpened, alarms, [alarms](RecordingDocument* document) {
        QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"),
                           QStringLiteral("Calvora"));
        document->limits = LoadDefaultLimits(settings);
        alarms->Watch(*document);
    });
    connect(window, &MainWindow::documentClosed, alarms,
            [alarms](RecordingDocument* document) { alarms->Forget(*document); });
    // Publishing: every receiver's live readings and alarm events go to the broker under its own name while
    // it is on.
    engine->SetReadingObserver([this](const LiveReading& reading) {
        if (publisher_)
            publisher_->PublishReading(reading);
    });
    alarms->onEvent = [this](const AlarmNotice& notice) {
        // The alarm's source is its document's title, which names the receiver recording into it.
        alarmSource_ = notice.source;
        MqttPublisher* publisher = publisher_.get();
        if (const MeterEngine* owner = link_->desk().recordingTitled(notice.source);
            owner != nullptr && publisherOf(*owner) != nullptr)
            publisher = publisherOf(*owner);
        if (publisher != nullptr)
            publisher->PublishAlarm(notice);
    };
    connect(link, &EngineLink::sessionConnected, this, &CalvoraApplication::OnSessionConnected);
    connect(link, &EngineLink::sessionEnded, this,
            [this](MeterEngine* ended) { furtherPublishers_.erase(ended); });
    connect(window, &MainWindow::publishReadingsRequested, this, &CalvoraApplication::ChoosePublishing);
    brokerTimer_.setInterval(500);
    connect(&brokerTimer_, &QTimer::timeout, this, &CalvoraApplication::ShowBrokerState);
    connect(alarms, &AlarmCenter::commandFailed, window, [this](const QString& reason) {
        prompts_->ShowMessage(reason.toStdU16String(), MessageIcon::Exclamation);
    });

    // The views: the chart on the "Data Graph" tab saves and asks through the window and shares its
    // remembered marks with the program's other charts; the list takes the "Data List" tab.
    ChartHooks chartHooks;
    chartHooks.shared = charts_;
    chartHooks.documents = &engine->documents();
    chartHooks.save = [window](RecordingDocument& document) { return window->SaveWithDialog(document); };
    chartHooks.prompts = prompts_;
    chartHooks.openLimits = [window](RecordingDocument& document) { window->EditDocumentLimits(document); };
    tabTable_ = MakeDocumentTabTable(MakeChartViewFactory([chartHooks] { return chartHooks; }),
                                     MakeLogListViewFactory());
    return true;
}

void CalvoraApplication::OfferLeftJournal() {
    const std::optional<std::filesystem::path> left = FindLeftJournal();
    if (!left) {
        return;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Calvora"),
                    QStringLiteral("A live recording was not saved when Calvora last stopped.\n"
                                   "Recover it as \"RealTime Panel\", or discard it?"),
                    QMessageBox::NoButton, window_.get());
    QPushButton* recover = box.addButton(QStringLiteral("Recover"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(recover);
    box.exec();
    if (box.clickedButton() != recover) {
        DiscardJournal(*left);
        return;
    }
    if (const Outcome<RecordingDocument*> recovered = engine_->RecoverJournal(*left); !recovered) {
        // The file stays where it is, so nothing is lost by a failed recovery.
        prompts_->ShowMessage(u"Cannot recover the live recording: " + recovered.reason(),
                              MessageIcon::Exclamation);
    }
}

void CalvoraApplication::ChoosePublishing() {
    QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
    PublishDialog dialog(LoadPublishChoice(settings, publishPassword_), window_.get());
    if (dialog.exec() != QDialog::Accepted)
        return;
    SavePublishChoice(settings, dialog.choice());
    publishPassword_ = dialog.choice().settings.target.password;
    ApplyPublishing(dialog.choice());
}

bool CalvoraApplication::ApplyPublishing(const PublishChoice& choice) {
    brokerTimer_.stop();
    furtherPublishers_.clear();
    publisher_.reset();
    publishing_.reset();
    window_->ShowBrokerState(QString(), false);
    if (!choice.enabled)
        return true;
    // Every receiver publishes under its name as publishing starts: the first one whether connected or not,
    // each further one while it is connected.
    publishing_ = choice.settings;
    brokerTarget_ = choice.settings.target;
    if (!StartPublisher(*engine_)) {
        publishing_.reset();
        return false;
    }
    DeskSessions& desk = link_->desk();
    for (size_t k = 0; k < desk.furtherCount(); ++k)
        StartPublisher(desk.further(k));
    ShowBrokerState();
    brokerTimer_.start();
    return true;
}

bool CalvoraApplication::StartPublisher(MeterEngine& engine) {
    DeskSessions& desk = link_->desk();
    Outcome<std::unique_ptr<MqttPublisher>> started = MqttPublisher::Start(*publishing_, desk.name(engine));
    if (!started) {
        prompts_->ShowMessage(u"Readings cannot be published: " + started.reason(), MessageIcon::Exclamation);
        return false;
    }
    if (desk.isFirst(engine))
        publisher_ = std::move(started.value());
    else
        furtherPublishers_[&engine] = std::move(started.value());
    return true;
}

MqttPublisher* CalvoraApplication::publisherOf(const MeterEngine& engine) const {
    if (&engine == engine_.get())
        return publisher_.get();
    const auto found = furtherPublishers_.find(&engine);
    return found != furtherPublishers_.end() ? found->second.get() : nullptr;
}

void CalvoraApplication::OnSessionConnected(MeterEngine* engine) {
    if (engine != engine_.get()) {
        engine->SetReadingObserver([this, engine](const LiveReading& reading) {
            if (MqttPublisher* publisher = publisherOf(*engine))
                publisher->PublishReading(reading);
        });
    }
    if (!publishing_)
        return;
    // A name given since the last connection takes over the topics from now on.
    MqttPublisher* publisher = publisherOf(*engine);
    if (publisher == nullptr || publisher->meter() != link_->desk().name(*engine)) {
        if (engine == engine_.get())
            publisher_.reset();
        StartPublisher(*engine);
    }
}

void CalvoraApplication::ShowBrokerState() {
    if (!publisher_)
        return;
    // One pane for the broker: while every receiver's connection is up it says so for the first; otherwise
    // it tells the first one that is not.
    const MqttPublisher* shown = publisher_.get();
    PublisherStatus status = shown->status();
    for (const auto& entry : furtherPublishers_) {
        if (status.state != BrokerState::Connected)
            break;
        const PublisherStatus further = entry.second->status();
        if (further.state != BrokerState::Connected) {
            shown = entry.second.get();
            status = further;
        }
    }
    window_->ShowBrokerState(QString::fromStdString(StatusText(status, shown->meter(), brokerTarget_)),
                             status.state == BrokerState::Connected);
}

} // namespace calvora
