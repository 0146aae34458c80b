// A recording made by the engine, drawn live by the chart as the desktop program does it.
#include "app/meter_engine.h"
#include "chart/gui/chart_view.h"
#include "protocol/frame_builder.h"
#include "tests/engine/fake_view.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <map>
#include <memory>

namespace calvora {
namespace {

// The engine's window with a chart view per document window; after every sample the chart has drawn, the
// window system paints it.
class ChartingView : public testing::FakeView, private DocumentListener {
public:
    RecordingDocument* CreateDocumentWindow() override {
        RecordingDocument* document = FakeView::CreateDocumentWindow();
        auto chart = std::make_unique<ChartView>(*document);
        chart->resize(900, 600);
        chart->grab();
        charts[document] = std::move(chart);
        paints.push_back(document->Subscribe(*this));
        return document;
    }

    std::map<RecordingDocument*, std::unique_ptr<ChartView>> charts;

private:
    void OnSamplesAppended(RecordingDocument& document, uint32_t, uint32_t) override {
        charts.at(&document)->grab();
    }

    std::vector<DocumentSubscription> paints;
};

TEST(ChartWithEngine, LiveRecordingDrawsTheSamePictureAsARepaint) {
    const auto folder =
        std::filesystem::temp_directory_path() / ("calvora-chart-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        ChartingView view;
        testing::FakeInventory inventory;
        inventory.ports = std::vector<SerialPortInfo>{{kReceiverDescription, "COM5", ""}};
        SettingsFile settings((folder / "ZAZEDOVADIZO.ini").string());
        MeterEngine state(view, inventory, settings);
        view.state = &state.documents();
        state.ScanReceivers();
        view.plannedAnswer = 300;
        state.StartRecording();
        ASSERT_TRUE(state.documents().recording);

        auto feed = [&](uint16_t magnitude) {
            const auto frame = MakeLiveFrame(magnitude, 0x01, 0x01, 0);
            state.ReceiveChunk(frame.data(), static_cast<int>(frame.size()));
        };
        for (int i = 0; i < 130; ++i) // past the first growth of the live window (100, 109, 118, 128)
            feed(static_cast<uint16_t>(20000 + 8000 * std::sin(i * 0.1) + (i * 37) % 500));

        RecordingDocument* document = state.documents().recordingDocument;
        ASSERT_NE(document, nullptr);
        EXPECT_EQ(document->sampleCount(), 130U);
        EXPECT_EQ(view.liveAppends(), 130);
        ChartView& chart = *view.charts.at(document);
        const QImage live = chart.backBuffer().copy();
        int red = 0;
        for (int y = 70; y < 470; ++y)
            for (int x = 110; x < 790; ++x)
                red += live.pixel(x, y) == 0xFFFF0000 ? 1 : 0;
        EXPECT_GT(red, 600);
        chart.RedrawChart();
        chart.grab();
        EXPECT_EQ(chart.backBuffer(), live);
    }
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace calvora
