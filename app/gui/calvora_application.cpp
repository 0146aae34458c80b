#include "app/gui/calvora_application.h"

#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "app/gui/text_document_view.h"
#include "chart/gui/chart_document_view.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "recording/gui/data_list_view.h"
#include "recording/journal.h"
#include "recording/recording_state.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>
#include <QPushButton>

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
    parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A .recorder file to open."),
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
    if (!graphView) {
        graphView = [](const std::shared_ptr<RecordingDocument>& document, QWidget* parent) -> DocumentView* {
            return new TextDocumentView(document, parent);
        };
    }
    if (!listView) {
        listView = MakeLogListViewFactory();
    }
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

ChartHooks CalvoraApplication::MakeChartHooks() {
    ChartHooks hooks;
    hooks.shared = charts_;
    if (frame_ == nullptr) {
        return hooks;
    }
    MainWindow* frame = frame_.get();
    hooks.documents = &frame->state();
    hooks.save = [frame](RecordingDocument& document) { return frame->SaveWithDialog(document); };
    hooks.prompts = &frame->prompts();
    return hooks;
}

CalvoraApplication::~CalvoraApplication() {
    // The port and its reader stop first, while the frame still stands; then the frame goes.
    if (engine_ != nullptr) {
        engine_->Stop();
    }
    frame_.reset();
    engine_.reset();
    if (DocumentWindow::InstalledTabTable() == &tabTable_) {
        DocumentWindow::InstallTabTable(nullptr);
    }
}

bool CalvoraApplication::InitInstance(const StartupOptions& options) {
    // The Windows start-up steps for the component system, its security, sockets and OLE have no counterpart
    // here: nothing in this program uses them.
    receiverPaths_ = options.ports;
    // The chart takes the "Data Graph" tab, the list view the "Data List" tab. The hooks are asked for when a
    // view is made, by which time the frame and the engine stand.
    tabTable_ = MakeDocumentTabTable(MakeChartViewFactory([this] { return MakeChartHooks(); }),
                                     MakeLogListViewFactory());
    DocumentWindow::InstallTabTable(&tabTable_);

    frame_ = std::make_unique<MainWindow>();
    if (!frame_->Create()) {
        frame_.reset();
        return false;
    }
    std::vector<std::string> devices;
    for (const QString& port : receiverPaths_) {
        devices.push_back(port.toStdString());
    }
    udev_ = std::make_unique<UdevInventory>();
    inventory_ = std::make_unique<ExtraDevicesInventory>(*udev_, std::move(devices));
    settings_ = std::make_unique<SettingsFile>(SettingsFile::DefaultPath());
    engine_ = std::make_unique<EngineLink>(*frame_, *inventory_, *settings_, true);
    journal_ = std::make_unique<Journal>();
    engine_->state().SetJournal(journal_.get());
    // The receiver scan ends the main frame's creation: the port is not opened here.
    engine_->Start();
    frame_->resize(1024, 700);
    // Shown before the command line's file opens, so that its window is sized to a laid-out MDI area.
    frame_->show();
    OfferLeftJournal();
    for (const QString& file : options.files) {
        frame_->OpenDocumentFile(file);
    }
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
                    QMessageBox::NoButton, frame_.get());
    QPushButton* recover = box.addButton(QStringLiteral("Recover"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(recover);
    box.exec();
    if (box.clickedButton() != recover) {
        DiscardJournal(*left);
        return;
    }
    std::u16string error;
    if (engine_->state().RecoverJournal(*left, &error) == nullptr) {
        // The file stays where it is, so nothing is lost by a failed recovery.
        frame_->prompts().ShowMessage(u"Cannot recover the live recording: " + error,
                                      MessageIcon::Exclamation);
    }
}

} // namespace calvora
