#include "app/gui/calvora_application.h"

#include "app/gui/engine_link.h"
#include "app/gui/text_document_view.h"
#include "app/gui/main_window.h"
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

CalvoraApplication::CalvoraApplication() = default;

ChartHooks CalvoraApplication::MakeChartHooks() {
    ChartHooks hooks;
    if (m_frame == nullptr) {
        return hooks;
    }
    MainWindow* frame = m_frame.get();
    hooks.documents = &frame->State();
    hooks.save = [frame](RecordingDocument& document) { return frame->SaveWithDialog(document); };
    hooks.updateAllViews = [frame](RecordingDocument& document) { frame->UpdateViews(document); };
    hooks.prompts = &frame->Prompts();
    if (m_engine != nullptr) {
        EngineLink* engine = m_engine.get();
        hooks.fillDownload = [engine](RecordingDocument&) { engine->State().FillDownloadDocument(); };
    }
    return hooks;
}

CalvoraApplication::~CalvoraApplication() {
    // The port and its reader stop first, while the frame still stands; then the frame goes.
    if (m_engine != nullptr) {
        m_engine->Stop();
    }
    m_frame.reset();
    m_engine.reset();
    if (DocumentWindow::InstalledTabTable() == &m_tabTable) {
        DocumentWindow::InstallTabTable(nullptr);
    }
}

bool CalvoraApplication::InitInstance(const StartupOptions& options) {
    // The Windows start-up steps for the component system, its security, sockets and OLE have no counterpart
    // here: nothing in this program uses them.
    m_receiverPaths = options.ports;
    // The chart takes the "Data Graph" tab, the list view the "Data List" tab. The hooks are asked for when a
    // view is made, by which time the frame and the engine stand.
    m_tabTable = MakeDocumentTabTable(MakeChartViewFactory([this] { return MakeChartHooks(); }),
                                      MakeLogListViewFactory());
    DocumentWindow::InstallTabTable(&m_tabTable);

    m_frame = std::make_unique<MainWindow>();
    if (!m_frame->Create()) {
        m_frame.reset();
        return false;
    }
    std::vector<std::string> devices;
    for (const QString& port : m_receiverPaths) {
        devices.push_back(port.toStdString());
    }
    m_udev = std::make_unique<UdevInventory>();
    m_inventory = std::make_unique<ExtraDevicesInventory>(*m_udev, std::move(devices));
    m_settings = std::make_unique<SettingsFile>(SettingsFile::DefaultPath());
    m_engine = std::make_unique<EngineLink>(*m_frame, *m_inventory, *m_settings, true);
    m_journal = std::make_unique<Journal>();
    m_engine->State().SetJournal(m_journal.get());
    // The receiver scan ends the main frame's creation: the port is not opened here.
    m_engine->Start();
    m_frame->resize(1024, 700);
    // Shown before the command line's file opens, so that its window is sized to a laid-out MDI area.
    m_frame->show();
    OfferLeftJournal();
    for (const QString& file : options.files) {
        m_frame->OpenDocumentFile(file);
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
                    QMessageBox::NoButton, m_frame.get());
    QPushButton* recover = box.addButton(QStringLiteral("Recover"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Discard"), QMessageBox::DestructiveRole);
    box.setDefaultButton(recover);
    box.exec();
    if (box.clickedButton() != recover) {
        DiscardJournal(*left);
        return;
    }
    std::u16string error;
    if (m_engine->State().RecoverJournal(*left, &error) == nullptr) {
        // The file stays where it is, so nothing is lost by a failed recovery.
        m_frame->Prompts().ShowMessage(u"Cannot recover the live recording: " + error, MessageIcon::Exclamation);
    }
}

} // namespace calvora
