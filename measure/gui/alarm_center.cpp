#include "measure/gui/alarm_center.h"

#include "measure/gui/alarm_list.h"
#include "measure/gui/desktop_notifier.h"

#include <QApplication>

#include <chrono>

namespace calvora {

AlarmCenter::AlarmCenter(DesktopNotifier* notifier, AlarmList* list, std::function<void()> stopRecording,
                         QObject* parent)
    : QObject(parent), notifier_(notifier), list_(list), stopRecording_(std::move(stopRecording)), clock_([] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
      }) {
    reaper_.setInterval(1000);
    connect(&reaper_, &QTimer::timeout, this, [this] {
        if (launcher_.Reap() == 0)
            reaper_.stop();
    });
}

AlarmCenter::~AlarmCenter() = default;

void AlarmCenter::Watch(RecordingDocument& document) {
    auto& watcher = watchers_[&document];
    if (!watcher)
        watcher = std::make_unique<AlarmWatcher>(document, *this, [this] { return clock_(); });
}

void AlarmCenter::Forget(RecordingDocument& document) {
    watchers_.erase(&document);
}

void AlarmCenter::PlaySound() {
    QApplication::beep();
}

void AlarmCenter::Notify(const std::u16string& title, const std::u16string& text) {
    if (notifier_)
        notifier_->Notify(QString::fromStdU16String(title), QString::fromStdU16String(text));
}

void AlarmCenter::List(const AlarmNotice& notice) {
    if (list_)
        list_->Add(notice);
}

void AlarmCenter::RunCommand(const std::string& command, const CommandEnvironment& environment) {
    const Outcome<pid_t> started = launcher_.Start(command, environment);
    if (!started) {
        Q_EMIT commandFailed(QString::fromStdU16String(started.reason()));
        return;
    }
    reaper_.start();
}

void AlarmCenter::StopRecording() {
    if (stopRecording_)
        stopRecording_();
}

void AlarmCenter::Event(const AlarmNotice& notice) {
    if (onEvent)
        onEvent(notice);
}

} // namespace calvora
