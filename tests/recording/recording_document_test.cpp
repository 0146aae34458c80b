#include "recording/recording_document.h"
#include "recording/recording_state.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace calvora {
namespace {

std::u16string TimeText(uint32_t second) {
    char text[32];
    std::snprintf(text, sizeof text, " 12/07/26 %02u:%02u:%02u", second / 3600 % 24, second / 60 % 60,
                  second % 60);
    return std::u16string(text, text + std::char_traits<char>::length(text));
}

TEST(SampleStore, SecondRecordingReplacesTheRowsOfTheFirst) {
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(5, allocated);
    EXPECT_EQ(allocated, 5u);
    EXPECT_EQ(document.channelCount(), 1);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(document.AppendSample(static_cast<float>(i), 6, -6, u"VDC", u"DC", u"V", TimeText(i)));
    // The caller ends the recording at the planned count; a stray sample must not land past the rows.
    EXPECT_FALSE(document.AppendSample(9, 6, -6, u"VDC", u"DC", u"V", TimeText(9)));
    EXPECT_EQ(document.sampleCount(), 5u);

    document.ResetSampleCount();
    EXPECT_EQ(document.rowCapacity(), 5u) << "rows are kept until the first new sample";
    document.BeginLiveStorage(3, allocated);
    EXPECT_EQ(allocated, 3u);
    EXPECT_EQ(document.rowCapacity(), 3u);
    EXPECT_TRUE(document.AppendSample(42, 600, -600, u"ACV", u"AC", u"mV", TimeText(100)));
    EXPECT_EQ(document.Sample(0).value[0], 42.0f);
    EXPECT_EQ(document.functionName(0), u"ACV");
    EXPECT_EQ(document.unit(0), u"mV");
    EXPECT_EQ(document.functionName(1), u"") << "row 1 of the new recording holds nothing yet";
}

TEST(SampleStore, FillRowsGivesEmptyRowsOfTheDeclaredChannels) {
    RecordingDocument document;
    document.SetChannelCount(3);
    document.FillRows(4);
    EXPECT_EQ(document.sampleCount(), 4u);
    EXPECT_EQ(document.rowCapacity(), 4u);
    document.SetValue(3, 2, 7.5f, 10);
    document.SetTexts(3, u"OHM", u"", u"\u03A9", u" t");
    document.SetLowLimit(3, -1);
    EXPECT_EQ(document.value(3, 2), 7.5f);
    EXPECT_EQ(document.value(3, 1), 0.0f);
    EXPECT_EQ(document.unit(3), u"\u03A9");
    EXPECT_EQ(document.functionName(2), u"");
    // Outside the rows or channels: nothing is written and nothing is read.
    document.SetValue(4, 0, 1, 1);
    document.SetValue(0, 3, 1, 1);
    EXPECT_EQ(document.value(4, 0), 0.0f);
    EXPECT_EQ(document.value(0, 3), 0.0f);

    document.ReleaseRows();
    EXPECT_EQ(document.rowCapacity(), 0u);
    EXPECT_EQ(document.value(3, 2), 0.0f);
    EXPECT_EQ(document.memoryBytes(), TextPool().memoryBytes());
}

// A full live recording where every sample has its own time text, the worst case for the texts.
TEST(SampleStore, HoldsAtMost128BytesPerOneChannelSample) {
    constexpr uint32_t kRows = 20000;
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(kRows, allocated);
    ASSERT_TRUE(document.AppendSample(0, 6, -6, u"VDC", u"DC", u"V", TimeText(0)));
    const std::u16string_view first = document.timeText(0);
    for (uint32_t i = 1; i < kRows; ++i)
        ASSERT_TRUE(document.AppendSample(static_cast<float>(i), 6, -6, i % 2 ? u"VDC" : u"ACV", u"DC", u"V",
                                          TimeText(i)));
    EXPECT_LE(document.memoryBytes() / kRows, 128u);
    EXPECT_EQ(first, TimeText(0)) << "views survive later appends";
    EXPECT_EQ(document.timeText(kRows - 1), TimeText(kRows - 1));
    EXPECT_EQ(document.functionName(kRows - 2), u"ACV");
}

TEST(TextPool, InternsEqualTextsOnceAndKeepsLongOnes) {
    TextPool pool;
    const std::u16string longText(100000, u'z');
    const auto a = pool.Intern(u"VDC");
    const auto b = pool.Intern(longText);
    EXPECT_EQ(pool.Intern(u"VDC"), a);
    EXPECT_EQ(pool.Intern(longText), b);
    EXPECT_EQ(pool.Intern(u""), TextPool::kEmpty);
    EXPECT_EQ(pool.Text(a), u"VDC");
    EXPECT_EQ(pool.Text(b), longText);
    EXPECT_EQ(pool.size(), 3u);
}

class ScriptedPrompts : public UserPrompts {
public:
    MOCK_METHOD(bool, AskYesNo, (const std::u16string&), (override));
    MOCK_METHOD(void, ShowMessage, (const std::u16string&, MessageIcon), (override));
};

TEST(CloseDocument, AsksOnlyForUnsavedLiveRecording) {
    struct Case {
        const char* name;
        bool isLive;
        bool dataSaved;
        bool closePrompted;
        bool asks;
    };
    const Case cases[] = {
        {"unsaved live recording", true, false, false, true},
        {"saved live recording", true, true, false, false},
        {"application close already asked", true, false, true, false},
        {"other document", false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool answer : {true, false}) {
            RecordingState state;
            RecordingDocument live;
            RecordingDocument other;
            state.recordingDocument = &live;
            state.dataSaved = c.dataSaved;
            state.closePrompted = c.closePrompted;
            testing::StrictMock<ScriptedPrompts> prompts;
            if (c.asks)
                EXPECT_CALL(prompts,
                            AskYesNo(std::u16string(u"Do you want to save the data before closing?")))
                    .WillOnce(testing::Return(answer));
            EXPECT_EQ(AskSaveBeforeClosing(state, c.isLive ? live : other, prompts), c.asks && answer);
        }
    }
}

TEST(CloseDocument, QuittingAsksOnceForBothCloses) {
    RecordingState state;
    RecordingDocument live;
    state.recordingDocument = &live;
    state.dataSaved = false;
    testing::StrictMock<ScriptedPrompts> prompts;
    EXPECT_CALL(prompts, AskYesNo(testing::_)).WillOnce(testing::Return(false));
    EXPECT_FALSE(AskSaveBeforeQuitting(state, prompts));
    EXPECT_TRUE(state.closePrompted);
    EXPECT_FALSE(AskSaveBeforeClosing(state, live, prompts));
}

TEST(CloseDocument, DestroyingTheSpecialDocumentsClearsTheirMembers) {
    RecordingState state;
    EXPECT_TRUE(state.dataSaved);
    RecordingDocument live;
    RecordingDocument download;
    RecordingDocument file;
    uint32_t allocated = 0;
    live.BeginLiveStorage(10, allocated);
    state.recordingDocument = &live;
    state.downloadDocument = &download;
    state.recording = true;
    state.SetDownloading(true);

    ForgetDocument(state, file);
    EXPECT_TRUE(state.recording);
    EXPECT_EQ(state.recordingDocument, &live);

    ForgetDocument(state, live);
    EXPECT_FALSE(state.recording);
    EXPECT_EQ(state.recordingDocument, nullptr);
    EXPECT_EQ(live.rowCapacity(), 0u);
    EXPECT_TRUE(state.downloading());

    ForgetDocument(state, download);
    EXPECT_FALSE(state.downloading());
    EXPECT_EQ(state.downloadDocument, nullptr);
}

// Writes down what it hears, and may act on the list while it is being notified.
class Recorder final : public DocumentListener {
public:
    Recorder(std::string name, std::vector<std::string>& heard) : name_(std::move(name)), heard_(heard) {}

    void OnSamplesAppended(RecordingDocument& document, uint32_t first, uint32_t count) override {
        heard_.push_back(name_ + " appended " + std::to_string(first) + "+" + std::to_string(count));
        if (onAppended)
            onAppended(document);
    }
    void OnDocumentReset(RecordingDocument&) override { heard_.push_back(name_ + " reset"); }
    void OnSettingsChanged(RecordingDocument&) override { heard_.push_back(name_ + " settings"); }

    std::function<void(RecordingDocument&)> onAppended;

private:
    std::string name_;
    std::vector<std::string>& heard_;
};

bool AppendOne(RecordingDocument& document) {
    return document.AppendSample(1, 6, -6, u"VDC", u"DC", u"V", TimeText(0));
}

TEST(DocumentListeners, HearEveryChangeWithDerivedStateBeforeTheViews) {
    std::vector<std::string> heard;
    Recorder view("view", heard);
    Recorder rules("rules", heard);
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(3, allocated);
    const DocumentSubscription viewFirst = document.Subscribe(view);
    const DocumentSubscription rulesLater = document.Subscribe(rules, ListenerRank::DerivedState);

    EXPECT_TRUE(AppendOne(document));
    EXPECT_TRUE(AppendOne(document));
    document.AnnounceSettingsChanged();
    document.AnnounceReset();
    EXPECT_THAT(heard, testing::ElementsAre("rules appended 0+1", "view appended 0+1", "rules appended 1+1",
                                            "view appended 1+1", "rules settings", "view settings",
                                            "rules reset", "view reset"));

    // A sample that finds no row is not stored, and not announced.
    heard.clear();
    EXPECT_TRUE(AppendOne(document));
    EXPECT_FALSE(AppendOne(document));
    EXPECT_EQ(heard.size(), 2u);
}

TEST(DocumentListeners, MayUnsubscribeOrSubscribeWhileBeingNotified) {
    std::vector<std::string> heard;
    Recorder first("first", heard);
    Recorder second("second", heard);
    Recorder third("third", heard);
    Recorder late("late", heard);
    RecordingDocument document;
    uint32_t allocated = 0;
    document.BeginLiveStorage(10, allocated);
    DocumentSubscription firstSubscription = document.Subscribe(first);
    DocumentSubscription secondSubscription = document.Subscribe(second);
    DocumentSubscription thirdSubscription = document.Subscribe(third);
    DocumentSubscription lateSubscription;

    // The first listener leaves, sends the second away before its turn and brings in a late one; the
    // late one hears from the next change on.
    first.onAppended = [&](RecordingDocument& notifying) {
        firstSubscription.Reset();
        secondSubscription.Reset();
        lateSubscription = notifying.Subscribe(late);
        first.onAppended = nullptr;
    };
    AppendOne(document);
    EXPECT_THAT(heard, testing::ElementsAre("first appended 0+1", "third appended 0+1"));
    heard.clear();
    AppendOne(document);
    EXPECT_THAT(heard, testing::ElementsAre("third appended 1+1", "late appended 1+1"));
    EXPECT_EQ(document.listenerCount(), 2u);

    // A listener may also cause another announcement while it hears one.
    heard.clear();
    third.onAppended = [](RecordingDocument& notifying) { notifying.AnnounceSettingsChanged(); };
    thirdSubscription.Reset();
    thirdSubscription = document.Subscribe(third, ListenerRank::DerivedState);
    AppendOne(document);
    EXPECT_THAT(heard, testing::ElementsAre("third appended 2+1", "third settings", "late settings",
                                            "late appended 2+1"));
}

TEST(DocumentListeners, StayWithTheObjectWhenItsContentsMoveAndOutliveItHarmlessly) {
    std::vector<std::string> heard;
    Recorder view("view", heard);
    DocumentSubscription subscription;
    {
        RecordingDocument document;
        subscription = document.Subscribe(view);
        // A file or journal read into a document replaces its contents, not those who watch it.
        RecordingDocument read;
        read.SetChannelCount(1);
        read.FillRows(4);
        document = std::move(read);
        document.AnnounceReset();
        EXPECT_EQ(document.sampleCount(), 4u);
        EXPECT_EQ(read.listenerCount(), 0u);
        RecordingDocument movedOut(std::move(document));
        movedOut.AnnounceReset();
        document = RecordingDocument{};
        document.AnnounceReset();
        EXPECT_TRUE(subscription.active());
    }
    EXPECT_THAT(heard, testing::ElementsAre("view reset", "view reset"));
    EXPECT_FALSE(subscription.active());
    subscription.Reset(); // the document is gone: nothing to do, nothing touched
}

} // namespace
} // namespace calvora
