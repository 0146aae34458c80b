#include "docking/gui/sizing_dock_bar.h"

#include <QMainWindow>

namespace calvora {

unsigned SizingEdgeForSide(Qt::DockWidgetArea side) {
    switch (side) {
    case Qt::TopDockWidgetArea:
        return kEdgeBottom;
    case Qt::LeftDockWidgetArea:
        return kEdgeRight;
    case Qt::RightDockWidgetArea:
        return kEdgeLeft;
    case Qt::BottomDockWidgetArea:
        return kEdgeTop;
    default:
        return 0;
    }
}

SizingDockBar::SizingDockBar(QWidget* parent) : QDockWidget(parent) {
    // Docking, floating, the drag outline and the resize separator on the edge that faces the frame's centre
    // all come from QMainWindow's dock layout; this class keeps the sizes and minimums per placement.
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable |
                QDockWidget::DockWidgetFloatable);
    connect(this, &QDockWidget::dockLocationChanged, this,
            [this](Qt::DockWidgetArea) { PlacementChanged(); });
    connect(this, &QDockWidget::topLevelChanged, this, [this](bool) { PlacementChanged(); });
}

bool SizingDockBar::Create(const QString& windowName, QMainWindow* frame, QSize defaultSize, bool gripper,
                           int controlId) {
    if (frame == nullptr) {
        return false;
    }
    frame_ = frame;
    setParent(frame);
    setObjectName(windowName);
    setWindowTitle(windowName);
    szHorz_ = szVert_ = szFloat_ = defaultSize;
    gripper_ = gripper;
    if (!gripper) {
        // No gripper: an empty title bar leaves no caption to drag by.
        setTitleBarWidget(new QWidget(this));
    }
    controlId_ = controlId;
    PlacementChanged();
    return true;
}

void SizingDockBar::EnableDocking(Qt::DockWidgetAreas sides) {
    setAllowedAreas(sides);
}

void SizingDockBar::DockAt(Qt::DockWidgetArea side) {
    if (frame_ == nullptr) {
        return;
    }
    setFloating(false);
    frame_->addDockWidget(side, this);
    if (side == Qt::LeftDockWidgetArea || side == Qt::RightDockWidgetArea) {
        frame_->resizeDocks({this}, {szVert_.width()}, Qt::Horizontal);
    } else {
        frame_->resizeDocks({this}, {szHorz_.height()}, Qt::Vertical);
    }
    PlacementChanged();
}

Qt::DockWidgetArea SizingDockBar::dockSide() const {
    if (frame_ == nullptr || isFloating()) {
        return Qt::NoDockWidgetArea;
    }
    return frame_->dockWidgetArea(const_cast<SizingDockBar*>(this));
}

bool SizingDockBar::isHorizontalDock() const {
    const Qt::DockWidgetArea side = dockSide();
    return side == Qt::TopDockWidgetArea || side == Qt::BottomDockWidgetArea;
}

QSize SizingDockBar::sizeHint() const {
    if (isFloating()) {
        return szFloat_;
    }
    return isHorizontalDock() ? szHorz_ : szVert_;
}

void SizingDockBar::SetMinimumSizes(QSize horizontal, QSize vertical, QSize floating) {
    szMinHorz_ = horizontal;
    szMinVert_ = vertical;
    szMinFloat_ = floating;
    PlacementChanged();
}

void SizingDockBar::PlacementChanged() {
    const Qt::DockWidgetArea side = dockSide();
    edgeMask_ = SizingEdgeForSide(side);
    if (isFloating()) {
        setMinimumSize(szMinFloat_);
    } else if (side == Qt::TopDockWidgetArea || side == Qt::BottomDockWidgetArea) {
        setMinimumSize(szMinHorz_);
    } else {
        setMinimumSize(szMinVert_);
    }
}

} // namespace calvora
