// What the live-meter window tests share: a main frame with its engine link and a receiver on a
// pseudo-terminal, frames from the meter's side of the wire, and a script that answers modal windows.
#pragma once

#include "app/gui/engine_link.h"
#include "app/gui/main_frame.h"
#include "app/gui/strivon_app.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
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

// Receivers named by the test.
class ListedInventory : public ReceiverInventory {
public:
    std::optional<std::vector<SerialPortInfo>> Enumerate() override { return ports; }
    std::vector<SerialPortInfo> ports;
};

// The master side of a pseudo-terminal: the test plays the receiver on it.
class MeterLine {
public:
    MeterLine() {
        m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_master >= 0 && grantpt(m_master) == 0 && unlockpt(m_master) == 0) {
            m_path = ptsname(m_master);
        }
    }
    ~MeterLine() { Hangup(); }
    MeterLine(const MeterLine&) = delete;
    MeterLine& operator=(const MeterLine&) = delete;

    const std::string& Path() const { return m_path; }
    bool Send(const sim::Bytes& bytes) const {
        return m_master >= 0 &&
               write(m_master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the program wrote so far.
    sim::Bytes Received() const {
        sim::Bytes bytes(64);
        const ssize_t count = m_master >= 0 ? read(m_master, bytes.data(), bytes.size()) : -1;
        bytes.resize(count > 0 ? static_cast<size_t>(count) : 0);
        return bytes;
    }
    // As a pulled receiver: the device goes away under the open port.
    void Hangup() {
        if (m_master >= 0) {
            close(m_master);
            m_master = -1;
        }
    }

private:
    int m_master = -1;
    std::string m_path;
};

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
