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

    int ControlId() const { return m_controlId; }
    // The side the bar is docked at, or NoDockWidgetArea while floating or not docked.
    Qt::DockWidgetArea DockSide() const;
    bool IsHorizontalDock() const;

    QSize MinimumHorizontal() const { return m_szMinHorz; }
    QSize MinimumVertical() const { return m_szMinVert; }
    QSize MinimumFloating() const { return m_szMinFloat; }
    int EdgeWidth() const { return m_edgeWidth; }
    unsigned SizingEdgeMask() const { return m_edgeMask; }

    QSize sizeHint() const override;

protected:
    void SetMinimumSizes(QSize horizontal, QSize vertical, QSize floating);
    // Applies the placement's minimum size and client insets; derived bars extend it.
    virtual void PlacementChanged();

    QMainWindow* m_frame = nullptr;
    QSize m_szHorz{200, 200};
    QSize m_szVert{200, 200};
    QSize m_szFloat{200, 200};
    QSize m_szMinHorz{33, 32};
    QSize m_szMinVert{33, 32};
    QSize m_szMinFloat{37, 32};
    int m_edgeWidth = 5;
    unsigned m_edgeMask = 0;
    int m_controlId = 0;
    bool m_gripper = true;
};

} // namespace calvora
