// The span of a log to export as a recording: from and to (local time, to the millisecond), with the number
// of readings it holds; a span of more readings than a recording holds cannot be taken and says so.
#pragma once

#include "logging/log_range.h"

#include <QDialog>

class QDateTimeEdit;
class QLabel;
class QPushButton;

namespace calvora {

class LogDocument;

class ExportRangeDialog : public QDialog {
    Q_OBJECT
public:
    // Proposes `proposed` (the span the chart shows, say) of `log`, whose readings must be loaded.
    ExportRangeDialog(const LogDocument& log, const LogRange& proposed, QWidget* parent = nullptr);

    LogRange range() const;
    QDateTimeEdit* fromEdit() const { return from_; }
    QDateTimeEdit* toEdit() const { return to_; }
    QLabel* countLabel() const { return count_; }
    QPushButton* okButton() const { return ok_; }

private:
    void UpdateCount();

    const LogDocument& log_;
    QDateTimeEdit* from_;
    QDateTimeEdit* to_;
    QLabel* count_;
    QPushButton* ok_;
};

} // namespace calvora
