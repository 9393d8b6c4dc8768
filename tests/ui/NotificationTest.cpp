// Alert boxes and the desktop notifications beside them, against python3-dbusmock's
// notification_daemon on a private session bus.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QTest>
#include <memory>

#include "support/DbusMock.h"
#include "ui/DesktopNotifier.h"
#include "ui/MessageBox.h"
#include "ui/QtMessageSink.h"

namespace {

const QString kName = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

struct Notify {
    QString summary;
    QString body;
    int urgency = -1;
};

}  // namespace

class NotificationTest : public QObject {
    Q_OBJECT

    std::unique_ptr<DbusMock> bus;
    std::unique_ptr<QDBusConnection> connection;
    std::unique_ptr<DesktopNotifier> notifier;
    std::unique_ptr<QtMessageSink> sink;
    bool wanted = true;

    // The Notify calls the mock has had, in order.
    QList<Notify> notified() {
        const QDBusMessage reply = connection->call(QDBusMessage::createMethodCall(
            kName, kPath, QStringLiteral("org.freedesktop.DBus.Mock"), QStringLiteral("GetCalls")));
        QList<Notify> out;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            return out;
        }
        const QDBusArgument calls = reply.arguments().at(0).value<QDBusArgument>();
        calls.beginArray();
        while (!calls.atEnd()) {
            quint64 time = 0;
            QString method;
            QVariantList args;
            calls.beginStructure();
            calls >> time >> method;
            calls.beginArray();
            while (!calls.atEnd()) {
                QDBusVariant v;
                calls >> v;
                args.append(v.variant());
            }
            calls.endArray();
            calls.endStructure();
            if (method == QStringLiteral("Notify") && args.size() == 8) {
                const auto hints = qdbus_cast<QVariantMap>(args[6].value<QDBusArgument>());
                out.append(
                    {args[3].toString(), args[4].toString(), hints.value(QStringLiteral("urgency")).toInt()});
            }
        }
        calls.endArray();
        return out;
    }

  private slots:
    void initTestCase() {
        bus = std::make_unique<DbusMock>(DbusMock::Bus::Session);
        connection = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(
            QString::fromStdString(bus->address()), QStringLiteral("notify-test")));
        QVERIFY(connection->isConnected());
        notifier = std::make_unique<DesktopNotifier>(*connection);
        sink = std::make_unique<QtMessageSink>();
        sink->setNotifier(notifier.get(), [this] { return wanted; });
        MessageBox::setTestMode(true);
    }
    void cleanupTestCase() {
        sink.reset();
        notifier.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("notify-test"));
        connection.reset();
        bus.reset();
    }

    void withoutANotificationServiceTheBoxStillComes() {
        MessageBox::clearShown();
        sink->showAlert(AlertKind::Down, "web", "web is down");
        QTRY_COMPARE(MessageBox::shownTexts(), QStringList{"web is down"});
    }

    void aDownAlertIsACriticalNotificationAndSwitchedOffNoneGoesOut() {
        bus->startTemplate("notification_daemon", kName.toStdString());
        MessageBox::clearShown();
        wanted = false;
        sink->showAlert(AlertKind::Down, "quiet", "not for the desktop");
        QTRY_COMPARE(MessageBox::shownTexts().size(), 1);
        wanted = true;
        // The service reads markup: an ampersand must reach it as an entity.
        sink->showAlert(AlertKind::Down, "R&D web", "R&D web is down\r\nsince 10:00");
        sink->showAlert(AlertKind::Up, "R&D web", "back");
        QTRY_COMPARE(notified().size(), 2);
        const QList<Notify> n = notified();
        QCOMPARE(n[0].summary, QStringLiteral("Server Down: R&D web"));
        QCOMPARE(n[0].body, QStringLiteral("R&amp;D web is down\nsince 10:00"));
        QCOMPARE(n[0].urgency, 2);
        QCOMPARE(n[1].summary, QStringLiteral("Server Up: R&D web"));
        QCOMPARE(n[1].urgency, 1);
        QCOMPARE(MessageBox::shownTexts(),
                 (QStringList{"not for the desktop", "R&D web is down\r\nsince 10:00", "back"}));
    }
};

QTEST_MAIN(NotificationTest)
#include "NotificationTest.moc"
