// The main window's continuous logs: their windows (a log this program writes, or a log file opened
// read-only), the range export to a recording, the recordings' time axis and the status bar's log pane.
#include "app/gui/main_window.h"

#include "app/command_ids.h"
#include "app/gui/toolbar_images.h"
#include "chart/recording_times.h"
#include "logging/gui/export_range_dialog.h"
#include "logging/gui/log_window.h"
#include "logging/gui/open_log_window.h"
#include "logging/log_export.h"
#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMdiArea>
#include <QPainter>
#include <QStyle>

namespace calvora {

bool IsLogFile(const QString& path) {
    if (QFileInfo(path).suffix().compare(QStringLiteral("calvlog"), Qt::CaseInsensitive) == 0)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    static const QByteArray kSqliteHeader("SQLite format 3\0", 16);
    return file.read(kSqliteHeader.size()) == kSqliteHeader;
}

QIcon LoggingIcon() {
    QPixmap image(kToolbarImageSize, kToolbarImageSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A clock face at the left, a trace running on to the right edge.
    painter.setPen(QPen(QColor(40, 40, 40), 1.5));
    painter.setBrush(Qt::white);
    painter.drawEllipse(QRectF(2.5, 8.5, 12, 12));
    painter.drawLine(QPointF(8.5, 14.5), QPointF(8.5, 10.5));
    painter.drawLine(QPointF(8.5, 14.5), QPointF(11.5, 14.5));
    painter.setPen(QPen(QColor(0, 110, 200), 2));
    const QPointF trace[] = {{14, 18}, {17, 10}, {20, 20}, {23, 6}, {26, 14}};
    painter.drawPolyline(trace, 5);
    return QIcon(image);
}

LogWindow* MainWindow::ShowLogWindow(std::shared_ptr<LogDocument> log) {
    if (log == nullptr)
        return nullptr;
    auto* window = new LogWindow(std::move(log));
    AddLogWindow(window);
    return window;
}

LogWindow* MainWindow::ShowLogWindow(LogSet set) {
    auto* window = new LogWindow(std::move(set));
    AddLogWindow(window);
    return window;
}

LogWindow* MainWindow::OpenLogFile(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (LogWindow* window : logWindows()) {
        if (window->pathName() == absolute) {
            mdiArea()->setActiveSubWindow(window);
            return window;
        }
    }
    Outcome<LogWindow*> opened = OpenLogWindow(std::filesystem::path(absolute.toStdU16String()));
    if (!opened) {
        prompts_->ShowMessage(u"Cannot open " + QFileInfo(absolute).fileName().toStdU16String() + u".\n" +
                                  opened.reason(),
                              MessageIcon::Exclamation);
        if (!QFileInfo::exists(absolute)) {
            recent_.Remove(absolute.toStdU16String());
            StoreRecent();
            UpdateCommandUI();
        }
        return nullptr;
    }
    AddLogWindow(opened.value());
    AddRecent(absolute);
    return opened.value();
}

void MainWindow::AddLogWindow(LogWindow* window) {
    window->setObjectName(QStringLiteral("LogWindow"));
    connect(window, &LogWindow::loaded, this, &MainWindow::UpdateCommandUI);
    connect(
        window, &QObject::destroyed, this, [this] { UpdateCommandUI(); }, Qt::QueuedConnection);
    mdiArea()->addSubWindow(window);
    window->setWindowIcon(ApplicationIcon());
    // Placed as a new document window is: most of the area, a caption lower than the one before.
    const QSize area = mdiArea()->viewport()->size();
    const QSize size(std::max(400, area.width() * 3 / 4), std::max(300, area.height() * 3 / 4));
    const int step = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    const int room = std::max(0, std::min(area.width() - size.width(), area.height() - size.height()));
    const int windows = static_cast<int>(mdiArea()->subWindowList().size()) - 1;
    const int offset = room >= step ? (windows * step) % (room - room % step + step) : 0;
    window->resize(size);
    window->move(offset, offset);
    window->show();
    mdiArea()->setActiveSubWindow(window);
    UpdateCommandUI();
}

LogWindow* MainWindow::activeLogWindow() const {
    return qobject_cast<LogWindow*>(mdiArea()->currentSubWindow());
}

QList<LogWindow*> MainWindow::logWindows() const {
    QList<LogWindow*> windows;
    for (QMdiSubWindow* window : mdiArea()->subWindowList())
        if (auto* log = qobject_cast<LogWindow*>(window))
            windows.append(log);
    return windows;
}

void MainWindow::ExportLogRange() {
    LogWindow* window = activeLogWindow();
    if (window == nullptr || !window->log().loaded())
        return;
    ExportRangeDialog dialog(window->log(), window->ShownRange(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    auto recording = std::make_shared<RecordingDocument>();
    if (const Outcome<void> exported = ExportRange(window->log(), dialog.range(), *recording); !exported) {
        prompts_->ShowMessage(exported.reason(), MessageIcon::Exclamation);
        return;
    }
    recording->title = QFileInfo(window->windowTitle()).completeBaseName().toStdU16String();
    CreateDocumentWindow(std::move(recording));
}

void MainWindow::ToggleTimeAxis() {
    DocumentWindow* frame = activeDocumentWindow();
    if (frame == nullptr || frame->document() == nullptr)
        return;
    frame->document()->timeAxis = !frame->document()->timeAxis;
    // The graph tab's view is made afresh, of the other kind.
    if (frame->currentTab() == 0)
        frame->SwitchToTab(0);
}

void MainWindow::ShowLogStatus(const QString& text) {
    logPane_->setText(text);
    logPane_->setVisible(!text.isEmpty());
}

std::optional<CommandState> MainWindow::LogCommandState(int id) const {
    LogWindow* log = activeLogWindow();
    switch (id) {
    case ID_EXPORT_LOG_RANGE:
        return CommandState{log != nullptr && log->log().loaded() && log->log().readingCount() > 0, false};
    case ID_VIEW_TIME_AXIS: {
        RecordingDocument* document = activeDocument();
        if (document == nullptr)
            return CommandState{false, false};
        // Offered when the samples carry times to chart (or to switch back); the answer is kept until the
        // document or its sample count changes, since the menus ask often.
        if (document != timesChecked_.document || document->sampleCount() != timesChecked_.samples)
            timesChecked_ = {document, document->sampleCount(), SampleTimes(*document).has_value()};
        return CommandState{document->timeAxis || timesChecked_.usable, document->timeAxis};
    }
    case ID_FILE_CLOSE:
    case ID_WINDOW_CASCADE:
    case ID_WINDOW_TILE_HORZ:
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_PREVIEW:
        if (log != nullptr)
            return CommandState{true, false};
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

} // namespace calvora
