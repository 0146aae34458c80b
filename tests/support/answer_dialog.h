// Answering a modal dialog from a test: the command that opens it blocks until the dialog closes.
#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>

#include <functional>

namespace calvora::testing {

// Runs `answer` on the modal dialog of type D once it shows.
template <typename D> void AnswerDialog(std::function<void(D&)> answer) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer = std::move(answer)] {
        auto* dialog = qobject_cast<D*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        answer(*dialog);
    });
    poll->start();
}

} // namespace calvora::testing
