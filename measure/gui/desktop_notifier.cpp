#include "measure/gui/desktop_notifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace calvora {

DesktopNotifier::DesktopNotifier(QObject* parent) : QObject(parent) {
}

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {
}

bool DesktopNotifier::Notify(const QString& title, const QString& text) {
    if (!bus_)
        bus_ = QDBusConnection::sessionBus();
    if (!bus_->isConnected())
        return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(2)); // critical: stays until closed
    hints.insert(QStringLiteral("category"), QStringLiteral("device"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("io.github.calvora.Calvora"));
    call << QStringLiteral("Calvora") << 0u << QStringLiteral("dialog-warning") << title << text
         << QStringList() << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        const QDBusPendingReply<uint> reply = *finished;
        Q_EMIT answered(reply.isError() ? 0u : reply.value(),
                        reply.isError() ? reply.error().message() : QString());
        finished->deleteLater();
    });
    return true;
}

} // namespace calvora
