// Desktop notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications). Sent without waiting for the answer, so a desktop without the service
// costs nothing but the notification.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <optional>

namespace calvora {

class DesktopNotifier : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";

    // On the session bus, connected at the first notification: a program that never raises an alarm never
    // talks to the bus.
    explicit DesktopNotifier(QObject* parent = nullptr);
    DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    // A critical notification from "Calvora" with a warning icon, until the user closes it. False when no
    // session bus is there to take it.
    bool Notify(const QString& title, const QString& text);

Q_SIGNALS:
    // The service answered with the notification's id, or with an error (id 0).
    void answered(uint id, const QString& error);

private:
    std::optional<QDBusConnection> bus_;
};

} // namespace calvora
