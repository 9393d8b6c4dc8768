#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDesktopEntry = QStringLiteral("kestrune-vardomon");

// Urgency levels of the notification protocol.
constexpr uchar kNormal = 1;
constexpr uchar kCritical = 2;

// Only these three characters start markup or an entity; everything else shows as it is.
QString escapedMarkup(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&')) {
            out += QStringLiteral("&amp;");
        } else if (c == QLatin1Char('<')) {
            out += QStringLiteral("&lt;");
        } else if (c == QLatin1Char('>')) {
            out += QStringLiteral("&gt;");
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent) : QObject(parent), bus_(bus) {}

void DesktopNotifier::notify(const Notification& n) {
    if (!bus_.isConnected()) {
        return;
    }
    if (markup_) {
        send(n);
        return;
    }
    // A host name or message with "<" or "&" in it must not turn into markup, so ask first
    // how the service reads the body; what comes meanwhile waits, so that the notifications
    // keep their order. No service: the error ends the attempt quietly.
    waiting_.push_back(n);
    if (waiting_.size() > 1) {
        return;
    }
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QStringList> reply = *w;
        std::vector<Notification> waiting;
        waiting.swap(waiting_);
        if (reply.isError()) {
            return;
        }
        markup_ = reply.value().contains(QStringLiteral("body-markup"));
        for (const Notification& each : waiting) {
            send(each);
        }
    });
}

void DesktopNotifier::send(const Notification& n) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(n.critical ? kCritical : kNormal));
    hints.insert(QStringLiteral("desktop-entry"), kDesktopEntry);
    call << QStringLiteral("Kestrune Vardomon") << 0u << kDesktopEntry << n.summary
         << (markup_.value_or(false) ? escapedMarkup(n.body) : n.body) << QStringList() << hints
         << qint32(-1);
    // The answer (the notification's id) is of no use: nothing replaces or closes it later.
    bus_.asyncCall(call);
}
