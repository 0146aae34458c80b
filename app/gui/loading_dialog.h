// The "Loading..." window shown while the meter's stored log downloads: how many records have arrived, the
// progress bar and a Cancel button.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QProgressBar;
class QPushButton;

namespace calvora {

class LoadingDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kProgressBarId = 1071;

    explicit LoadingDialog(QWidget* parent);

    QProgressBar* bar() const { return bar_; }
    QLabel* recordsText() const { return records_; }
    QPushButton* cancelButton() const { return cancel_; }
    // "Receiving the meter's log: 120 of 200".
    void SetRecords(uint32_t arrived, uint32_t total);
    // Centred across the top of `clientArea` (screen coordinates), four of its own heights down.
    void PlaceOver(const QRect& clientArea);
    QRect DialogRect(int x, int y, int width, int height) const;

Q_SIGNALS:
    // The user gave the download up (Cancel, the close box or Escape) before it ended.
    void closedByUser();

protected:
    // Cancel and the close box reach this too: QDialog's close handling rejects a visible dialog.
    void reject() override;

private:
    QLabel* records_;
    QProgressBar* bar_;
    QPushButton* cancel_;
};

} // namespace calvora
