// Two small controls of the chart dialogs: a colour swatch and a numeric edit field.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QWidget>

#include <cstdint>

namespace calvora {

// Colours are kept as 0x00BBGGRR.
QColor ColourFromRef(uint32_t colour);
uint32_t RefFromColour(const QColor& colour);

// A colour swatch: the colour filled from (1, 1) to (width - 1, height - 1) inside a 1-pixel black outline.
class ColourSwatch : public QWidget {
    Q_OBJECT
public:
    explicit ColourSwatch(QWidget* parent = nullptr);

    void SetColour(uint32_t colour);
    uint32_t colour() const { return colour_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    uint32_t colour_ = 0;
};

// Takes only 0-9, "-" and "." (and the editing keys); the order of the characters is not checked.
class NumberEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit NumberEdit(QWidget* parent = nullptr);
};

} // namespace calvora
