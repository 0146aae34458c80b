// File › Export Chart...: the size of a PNG picture of the chart.
#pragma once

#include <QDialog>
#include <QSize>

class QSpinBox;

namespace calvora {

class PictureSizeDialog : public QDialog {
    Q_OBJECT
public:
    // Sides from 320 x 200 up to 8192 pixels; larger pictures would cost hundreds of megabytes to draw.
    static constexpr int kMinWidth = 320;
    static constexpr int kMinHeight = 200;
    static constexpr int kMaxSide = 8192;

    explicit PictureSizeDialog(QSize proposed, QWidget* parent = nullptr);

    QSize pictureSize() const;
    QSpinBox* widthBox() const { return width_; }
    QSpinBox* heightBox() const { return height_; }

private:
    QSpinBox* width_;
    QSpinBox* height_;
};

} // namespace calvora
