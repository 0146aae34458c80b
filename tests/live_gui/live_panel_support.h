// What the live-meter window tests share: a main frame with its engine link and a receiver on a
// pseudo-terminal, frames from the meter's side of the wire, and a script that answers modal windows.
#pragma once

#include "app/gui/calvora_application.h"
#include "app/gui/engine_link.h"
#include "app/gui/main_window.h"
#include "link/receiver_inventory.h"
#include "link/settings_file.h"
#include "tests/support/fake_receiver.h"
#include "tests/support/window_with_engine.h"
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
    explicit ModalScript(std::vector<Step> steps) : steps_(std::move(steps)) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
        timer_.start();
    }
    bool done() const { return next_ == steps_.size(); }

private:
    void Tick() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == last_.data()) {
            return;
        }
        last_ = modal;
        if (modal == nullptr || done()) {
            return;
        }
        // Steps may open further windows and run their loops, so they run outside this timer's tick (a
        // timer is not fired again while its own tick runs).
        QPointer<QWidget> window = modal;
        QMetaObject::invokeMethod(
            &timer_,
            [step = steps_[next_++], window] {
                if (window != nullptr) {
                    step(window);
                }
            },
            Qt::QueuedConnection);
    }

    std::vector<Step> steps_;
    size_t next_ = 0;
    QPointer<QWidget> last_;
    QTimer timer_;
};

// A main frame and its engine link with one receiver on a pseudo-terminal.
class LiveWindowTest : public WindowWithEngineTest {
protected:
    void SetUp() override {
        ASSERT_FALSE(meter.path().empty());
        WindowWithEngineTest::SetUp();
        ASSERT_FALSE(HasFatalFailure());
        frame->resize(1000, 700);
        inventory.ports = {{kReceiverDescription, "COM1", meter.path()}};
        link->Start();
    }

    QTreeWidget* tree() const { return frame->instrumentTree(); }
    void DoubleClick(int row) const { Q_EMIT tree()->itemDoubleClicked(tree()->topLevelItem(row), 0); }
    // Bytes as the reader would hand them over, run on this (the user-interface) thread.
    void Feed(const sim::ReadingSettings& reading, int32_t count) const {
        const sim::Bytes bytes = sim::BuildLiveFrame(reading, count);
        link->state().ReceiveChunk(bytes.data(), static_cast<int>(bytes.size()));
    }

    MeterLine meter;
};

} // namespace calvora::testing
