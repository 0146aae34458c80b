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
    m_frame = frame;
    setParent(frame);
    setObjectName(windowName);
    setWindowTitle(windowName);
    m_szHorz = m_szVert = m_szFloat = defaultSize;
    m_gripper = gripper;
    if (!gripper) {
        // No gripper: an empty title bar leaves no caption to drag by.
        setTitleBarWidget(new QWidget(this));
    }
    m_controlId = controlId;
    PlacementChanged();
    return true;
}

void SizingDockBar::EnableDocking(Qt::DockWidgetAreas sides) {
    setAllowedAreas(sides);
}

void SizingDockBar::DockAt(Qt::DockWidgetArea side) {
    if (m_frame == nullptr) {
        return;
    }
    setFloating(false);
    m_frame->addDockWidget(side, this);
    if (side == Qt::LeftDockWidgetArea || side == Qt::RightDockWidgetArea) {
        m_frame->resizeDocks({this}, {m_szVert.width()}, Qt::Horizontal);
    } else {
        m_frame->resizeDocks({this}, {m_szHorz.height()}, Qt::Vertical);
    }
    PlacementChanged();
}

Qt::DockWidgetArea SizingDockBar::DockSide() const {
    if (m_frame == nullptr || isFloating()) {
        return Qt::NoDockWidgetArea;
    }
    return m_frame->dockWidgetArea(const_cast<SizingDockBar*>(this));
}

bool SizingDockBar::IsHorizontalDock() const {
    const Qt::DockWidgetArea side = DockSide();
    return side == Qt::TopDockWidgetArea || side == Qt::BottomDockWidgetArea;
}

QSize SizingDockBar::sizeHint() const {
    if (isFloating()) {
        return m_szFloat;
    }
    return IsHorizontalDock() ? m_szHorz : m_szVert;
}

void SizingDockBar::SetMinimumSizes(QSize horizontal, QSize vertical, QSize floating) {
    m_szMinHorz = horizontal;
    m_szMinVert = vertical;
    m_szMinFloat = floating;
    PlacementChanged();
}

void SizingDockBar::PlacementChanged() {
    const Qt::DockWidgetArea side = DockSide();
    m_edgeMask = SizingEdgeForSide(side);
    if (isFloating()) {
        setMinimumSize(m_szMinFloat);
    } else if (side == Qt::TopDockWidgetArea || side == Qt::BottomDockWidgetArea) {
        setMinimumSize(m_szMinHorz);
    } else {
        setMinimumSize(m_szMinVert);
    }
}

} // namespace calvora
