// The cursor's readout: a small bordered child window with the five texts of the sample under the cursor.
#pragma once

#include <QFrame>
#include <QString>

#include <array>
#include <functional>

class QLabel;

namespace calvora {

class CursorReadout : public QFrame {
    Q_OBJECT
public:
    static constexpr int kTexts = 5; // in ReadoutText order: number, channel, function, value, time

    explicit CursorReadout(QWidget* parent);

    void SetTexts(const std::array<QString, kTexts>& texts);
    QString Text(int index) const;
    // Releasing the left button over the readout ends the chart's drag.
    void SetReleaseHandler(std::function<void()> handler) { onRelease_ = std::move(handler); }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    std::array<QLabel*, kTexts> values_{};
    std::function<void()> onRelease_;
};

} // namespace calvora
