// What the live-meter window tests share: a main frame with its engine link and a receiver on a
// pseudo-terminal, frames from the meter's side of the wire, and a script that answers modal windows.
#pragma once

#include "app/gui/engine_link.h"
#include "app/gui/main_frame.h"
#include "app/gui/strivon_app.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "tests/support/fake_receiver.h"
#include "tools/sim/meter_frames.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

namespace calvora::testing {

// Answers the modal windows that open while it lives, one step per window in the order they appear. A
// window that stays open after its step (a dialog that refused its field) gets the next step when it is the
// active modal window again.
class ModalScript {
public:
    using Step = std::function<void(QWidget*)>;
    explicit ModalScript(std::vector<Step> steps) : m_steps(std::move(steps)) {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Tick(); });
        m_timer.start();
    }
    bool Done() const { return m_next == m_steps.size(); }

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == m_last.data()) {
            return;
        }
        m_last = modal;
        if (modal == nullptr || Done()) {
            return;
        }
        // Steps may open further windows and run their loops, so they run outside this timer's tick (a
        // timer is not fired again while its own tick runs).
        QPointer<QWidget> window = modal;
        QMetaObject::invokeMethod(
            &m_timer,
            [step = m_steps[m_next++], window] {
                if (window != nullptr) {
                    step(window);
                }
            },
            Qt::QueuedConnection);
    }

    std::vector<Step> m_steps;
    size_t m_next = 0;
    QPointer<QWidget> m_last;
    QTimer m_timer;
};

// A main frame and its engine link with one receiver on a pseudo-terminal.
class LiveWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(meter.Path().empty());
        table = MakeDocumentTabTable();
        CTabFrame::InstallTabTable(&table);
        settings =
            std::make_unique<SettingsFile>(dir.filePath(QStringLiteral("ZAZEDOVADIZO.ini")).toStdString());
        frame = std::make_unique<CMainFrame>();
        ASSERT_TRUE(frame->Create());
        frame->resize(1000, 700);
        link = std::make_unique<EngineLink>(*frame, inventory, *settings, false);
        inventory.ports = {{kReceiverDescription, "COM1", meter.Path()}};
        link->Start();
    }
    void TearDown() override {
        link->Stop();
        frame.reset();
        link.reset();
        CTabFrame::InstallTabTable(nullptr);
    }

    QTreeWidget* Tree() const { return frame->InstrumentTree(); }
    void DoubleClick(int row) const { Q_EMIT Tree()->itemDoubleClicked(Tree()->topLevelItem(row), 0); }
    // Bytes as the reader would hand them over, run on this (the user-interface) thread.
    void Feed(const sim::ReadingSettings& reading, int32_t count) const {
        const sim::Bytes bytes = sim::BuildLiveFrame(reading, count);
        link->State().ReceiveChunk(bytes.data(), static_cast<int>(bytes.size()));
    }
    bool Enabled(int id) const { return frame->QueryCommandState(id).enabled; }

    MeterLine meter;
    QTemporaryDir dir;
    TabTable table;
    ListedInventory inventory;
    std::unique_ptr<SettingsFile> settings;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<EngineLink> link;
};

} // namespace calvora::testing
