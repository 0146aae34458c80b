// The desktop's side of the alarms: a watcher on every document's live readings, and the actions their
// alarms take: a short beep, a desktop notification, a line in the alarm list, the user's command and the
// end of the recording.
#pragma once

#include "measure/alarm_watcher.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace calvora {

class AlarmList;
class DesktopNotifier;

class AlarmCenter : public QObject, public AlarmSink {
    Q_OBJECT
public:
    // None of the parts is owned; any may be null (that action is then not taken). `stopRecording` ends the
    // running recording.
    AlarmCenter(DesktopNotifier* notifier, AlarmList* list, std::function<void()> stopRecording,
                QObject* parent = nullptr);
    ~AlarmCenter() override;

    // Holds the document's live readings to its limits until Forget.
    void Watch(RecordingDocument& document);
    void Forget(RecordingDocument& document);
    bool watching(const RecordingDocument& document) const { return watchers_.count(&document) != 0; }
    // Monotonic seconds for the hold time; the steady clock unless a test sets one.
    void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
    const CommandLauncher& launcher() const { return launcher_; }

    // AlarmSink
    void PlaySound() override;
    void Notify(const std::u16string& title, const std::u16string& text) override;
    void List(const AlarmNotice& notice) override;
    void RunCommand(const std::string& command, const CommandEnvironment& environment) override;
    void StopRecording() override;
    void Event(const AlarmNotice& notice) override;

    // Told of every alarm event of every watched document.
    std::function<void(const AlarmNotice&)> onEvent;

Q_SIGNALS:
    // A command could not be started; the reason as the user reads it.
    void commandFailed(const QString& reason);

private:
    QPointer<DesktopNotifier> notifier_;
    QPointer<AlarmList> list_;
    std::function<void()> stopRecording_;
    std::function<double()> clock_;
    std::map<const RecordingDocument*, std::unique_ptr<AlarmWatcher>> watchers_;
    CommandLauncher launcher_;
    QTimer reaper_; // collects the commands that ended
};

} // namespace calvora
