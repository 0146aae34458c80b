// The Instrument bar: a page bar docked at the left that shows the receiver tree or, once a receiver is open,
// the instrument panel; View › Instrument shows and hides it, and its pin hands it to the auto-hide strips.
#include "app/gui/main_window.h"

#include "app/gui/toolbar_images.h"

#include <QTreeWidget>

namespace calvora {

bool MainWindow::CreateInstrumentBar() {
    instrumentBar_ = new DockPageBar(this);
    if (!instrumentBar_->Create(QStringLiteral("DockPageBar1"), this, QSize(320, 260), true,
                                kInstrumentBarId)) {
        return false;
    }
    instrumentBar_->EnableDocking(Qt::AllDockWidgetAreas);
    instrumentBar_->DockAt(Qt::LeftDockWidgetArea);
    autoHide_->AttachPageBar(instrumentBar_);
    connect(instrumentBar_, &QDockWidget::visibilityChanged, this, [this](bool) { UpdateCommandUI(); });

    instrumentTree_ = new QTreeWidget;
    instrumentTree_->setObjectName(QStringLiteral("InstrumentTree%1").arg(kInstrumentTreeId));
    instrumentTree_->setHeaderHidden(true);
    instrumentTree_->setRootIsDecorated(true);
    instrumentTree_->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    return instrumentBar_->AddPage(instrumentTree_, QStringLiteral("Instrument"), InstrumentPageIcon());
}

bool MainWindow::isInstrumentBarShown() const {
    return instrumentBar_ != nullptr && (!instrumentBar_->isHidden() || autoHide_->IsPinned(instrumentBar_));
}

void MainWindow::ToggleInstrumentBar() {
    if (instrumentBar_ == nullptr) {
        return;
    }
    if (autoHide_->IsPinned(instrumentBar_)) {
        autoHide_->UnpinBar(instrumentBar_, false);
    } else {
        instrumentBar_->setVisible(instrumentBar_->isHidden());
    }
    UpdateCommandUI();
}

void MainWindow::ShowInstrumentPage(QWidget* page) {
    DockPageBar* bar = instrumentBar_;
    if (bar->pageCount() == 1 && bar->page(0).window == page) {
        return;
    }
    while (bar->pageCount() > 0) {
        if (bar->activePageIndex() < 0) {
            bar->ActivatePage(0);
        }
        bar->RemoveActivePage();
    }
    bar->AddPage(page, QStringLiteral("Instrument"), InstrumentPageIcon());
    // The panel grows with the desktop's font: the bar widens to show all of it, never narrows.
    const int frame = bar->width() - page->width();
    const int wanted = page->sizeHint().width() + std::max(0, frame);
    if (bar->width() < wanted) {
        resizeDocks({bar}, {wanted}, Qt::Horizontal);
    }
}

} // namespace calvora
