// The "Statistics" page of the Statistics bar: the figures of the active document, whole and, beside
// them, of the selected samples (a drag with Shift on the chart) or else of those the chart shows. Each
// document's figures are kept current as its readings arrive; the page shows them at most four times a
// second. Ctrl+C copies them as tab-separated text.
#pragma once

#include "chart/model/chart_model.h"

#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QTreeWidget;

namespace calvora {

class RecordingDocument;
class StatisticsTracker;

class StatisticsPage : public QWidget {
    Q_OBJECT
public:
    static constexpr int kRefreshMs = 250;

    explicit StatisticsPage(QWidget* parent = nullptr);
    ~StatisticsPage() override;

    // The document shown (null: none). Its figures are gathered the first time and kept until Forget.
    void SetDocument(RecordingDocument* document);
    // The document is going away.
    void Forget(RecordingDocument* document);
    RecordingDocument* document() const { return document_; }
    // Monotonic seconds for the reading rate; the steady clock unless a test sets one.
    void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }

    // Shows the figures again now if anything changed (the timer does it four times a second).
    void Refresh();
    // What Ctrl+C copies: each set of figures under a line naming its samples, tab-separated.
    QString Text() const;
    void CopyToClipboard() const;

    QTreeWidget* table() const { return table_; }
    // The samples of the second column, and what they are ("Selection", "Visible").
    SampleRange rangeShown() const { return range_; }

protected:
    // Ctrl+C on the table copies the figures, whatever shortcuts the window around it has.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Shown {
        const RecordingDocument* document = nullptr;
        uint64_t revision = 0;
        SampleRange range;
        bool live = false;
        bool operator==(const Shown&) const = default;
    };
    StatisticsTracker* TrackerOf(RecordingDocument* document);
    // The range beside the whole: the selection, else what the chart shows; and its name.
    std::pair<SampleRange, QString> SecondRange() const;
    void Fill();

    QTreeWidget* table_;
    QTimer timer_;
    std::function<double()> clock_;
    std::map<const RecordingDocument*, std::unique_ptr<StatisticsTracker>> trackers_;
    RecordingDocument* document_ = nullptr;
    std::optional<Shown> shown_;
    SampleRange range_;
    QString rangeName_;
};

} // namespace calvora
