// The controls of the instrument panel: static texts on the display's colour, the drawn symbols and the
// frame. Each keeps the id it has in the panel's template.
#pragma once

#include <QString>
#include <QWidget>

namespace calvora {

// The display's colour: every control and the panel itself are painted in it.
inline QColor LcdBackground() {
    return QColor(125, 206, 205);
}

class LcdText : public QWidget {
    Q_OBJECT
public:
    enum class Look {
        Plain,    // black text from the top-left corner, wrapped at blanks
        Centred,  // the same, each line centred
        Inverse,  // the display's colour on black behind the text only (TRMS, PEAK)
        BarGraph, // the bar text with segment k's mark at k/40 of the width
        BarScale, // the scale text with each mark under the bar segment it labels
    };

    LcdText(int id, Look look, QWidget* parent);
    int id() const { return id_; }
    Look look() const { return look_; }
    QString text() const { return text_; }
    void SetText(const QString& text);
    // Where the bar graph and its scale put segment 0 and segment 40, in this control's coordinates.
    int markLeft() const;
    int markRight() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintBar(class QPainter& painter) const;
    void PaintScale(class QPainter& painter) const;

    int id_;
    Look look_;
    QString text_;
};

// A picture control showing the BEEP or the DIODE symbol at its top-left corner.
class LcdSymbol : public QWidget {
    Q_OBJECT
public:
    LcdSymbol(int id, QWidget* parent);
    int id() const { return id_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int id_;
};

// The group box around the display area: an etched frame whose top edge sits half a text line down.
class LcdFrame : public QWidget {
    Q_OBJECT
public:
    explicit LcdFrame(QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace calvora
