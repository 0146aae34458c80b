// A docking bar that docks on any side of a QMainWindow or floats, and is resized by the edge that faces the
// frame's centre.
#pragma once

#include <QDockWidget>
#include <QSize>

class QMainWindow;

namespace calvora {

// Sizing-edge mask bits.
enum SizingEdge : unsigned {
    kEdgeLeft = 0x1,
    kEdgeRight = 0x2,
    kEdgeTop = 0x4,
    kEdgeBottom = 0x8,
    kEdgeInsetClient = 0x10,
};

// The one edge the user drags for a bar docked at `side` (the edge facing the frame's centre); 0 when
// floating.
unsigned SizingEdgeForSide(Qt::DockWidgetArea side);

class SizingDockBar : public QDockWidget {
    Q_OBJECT
public:
    explicit SizingDockBar(QWidget* parent = nullptr);

    // Window name (also the object name), owner frame, size used when docked or floating, gripper (caption)
    // shown, control id. Returns false when the frame is missing.
    bool Create(const QString& windowName, QMainWindow* frame, QSize defaultSize, bool gripper,
                int controlId);

    void EnableDocking(Qt::DockWidgetAreas sides);
    // Docks the bar at `side` with its default size across the dock.
    void DockAt(Qt::DockWidgetArea side);

    int controlId() const { return controlId_; }
    // The side the bar is docked at, or NoDockWidgetArea while floating or not docked.
    Qt::DockWidgetArea dockSide() const;
    bool isHorizontalDock() const;

    QSize minimumHorizontal() const { return szMinHorz_; }
    QSize minimumVertical() const { return szMinVert_; }
    QSize minimumFloating() const { return szMinFloat_; }
    int edgeWidth() const { return edgeWidth_; }
    unsigned sizingEdgeMask() const { return edgeMask_; }

    QSize sizeHint() const override;

protected:
    void SetMinimumSizes(QSize horizontal, QSize vertical, QSize floating);
    // Applies the placement's minimum size and client insets; derived bars extend it.
    virtual void PlacementChanged();

    QMainWindow* frame_ = nullptr;
    QSize szHorz_{200, 200};
    QSize szVert_{200, 200};
    QSize szFloat_{200, 200};
    QSize szMinHorz_{33, 32};
    QSize szMinVert_{33, 32};
    QSize szMinFloat_{37, 32};
    int edgeWidth_ = 5;
    unsigned edgeMask_ = 0;
    int controlId_ = 0;
    bool gripper_ = true;
};

} // namespace calvora
