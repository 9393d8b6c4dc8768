// Desktop notifications through org.freedesktop.Notifications. Every call is asynchronous:
// the window never waits for the notification service, and a bus without one (or no bus at
// all) costs nothing but the attempt.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>
#include <vector>

class DesktopNotifier : public QObject {
    Q_OBJECT
  public:
    struct Notification {
        QString summary;
        // Plain text; escaped where the service reads markup.
        QString body;
        bool critical = false;
    };

    explicit DesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    void notify(const Notification& n);

  private:
    void send(const Notification& n);

    QDBusConnection bus_;
    // Whether the service reads the body as markup; learnt from its first answer.
    std::optional<bool> markup_;
    // Notifications that came while the service was being asked, sent in order once it has
    // answered.
    std::vector<Notification> waiting_;
};
