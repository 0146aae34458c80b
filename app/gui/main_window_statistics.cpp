// The Statistics bar: a page bar docked at the right, hidden until View › Statistics shows it, with the
// active document's statistics and the alarm list; and the Limits dialog of a document.
#include "app/gui/main_window.h"

#include "measure/gui/alarm_list.h"
#include "measure/gui/limits_dialog.h"
#include "measure/gui/statistics_page.h"
#include "recording/recording_document.h"

#include <QMdiArea>
#include <QSettings>

namespace calvora {

bool MainWindow::CreateStatisticsBar() {
    statisticsBar_ = new DockPageBar(this);
    if (!statisticsBar_->Create(QStringLiteral("DockPageBar2"), this, QSize(560, 300), true,
                                kStatisticsBarId)) {
        return false;
    }
    statisticsBar_->EnableDocking(Qt::AllDockWidgetAreas);
    statisticsBar_->DockAt(Qt::RightDockWidgetArea);
    autoHide_->AttachPageBar(statisticsBar_);
    statisticsPage_ = new StatisticsPage;
    alarmList_ = new AlarmList;
    if (!statisticsBar_->AddPage(statisticsPage_, QStringLiteral("Statistics")) ||
        !statisticsBar_->AddPage(alarmList_, QStringLiteral("Alarms"))) {
        return false;
    }
    statisticsBar_->hide();
    connect(statisticsBar_, &QDockWidget::visibilityChanged, this, [this](bool) { UpdateCommandUI(); });
    connect(mdiArea(), &QMdiArea::subWindowActivated, this,
            [this](QMdiSubWindow*) { statisticsPage_->SetDocument(activeDocument()); });
    connect(this, &MainWindow::documentClosed, statisticsPage_, &StatisticsPage::Forget);
    return true;
}

bool MainWindow::isStatisticsBarShown() const {
    return statisticsBar_ != nullptr && (!statisticsBar_->isHidden() || autoHide_->IsPinned(statisticsBar_));
}

void MainWindow::ToggleStatisticsBar() {
    if (statisticsBar_ == nullptr) {
        return;
    }
    if (autoHide_->IsPinned(statisticsBar_)) {
        autoHide_->UnpinBar(statisticsBar_, false);
    } else {
        statisticsBar_->setVisible(statisticsBar_->isHidden());
    }
    UpdateCommandUI();
}

void MainWindow::EditDocumentLimits(RecordingDocument& document) {
    // The settings file of the recent-file list keeps the limits for new documents.
    QSettings settings(QStringLiteral("Local AppWizard-Generated Applications"), QStringLiteral("Calvora"));
    EditLimits(document, settings, prompts_, this);
}

} // namespace calvora
