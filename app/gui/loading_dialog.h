// The "Loading..." window shown while the meter's stored log downloads.
#pragma once

#include <QDialog>

class QProgressBar;

namespace calvora {

class LoadingDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kProgressBarId = 1071;

    explicit LoadingDialog(QWidget* parent);

    QProgressBar* bar() const { return bar_; }
    // Centred across the top of `clientArea` (screen coordinates), four of its own heights down.
    void PlaceOver(const QRect& clientArea);
    QRect DialogRect(int x, int y, int width, int height) const;

Q_SIGNALS:
    // The user closed the window (close box or Escape) before the download ended.
    void closedByUser();

protected:
    // The close box reaches this too: QDialog's close handling rejects a visible dialog.
    void reject() override;

private:
    QProgressBar* bar_;
};

} // namespace calvora
