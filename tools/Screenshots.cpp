// Draws the windows for the documentation: both views of the main window over a small host
// list in every state, the four pages of the host dialog, the tray's menu, and a host's down
// notification as the desktop's notification service shows it (the right top corner of the
// screen). Writes PNG files into the folder given as the first argument. Runs with its own
// empty settings folder.
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QEventLoop>
#include <QMenu>
#include <QPixmap>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "alerts/Templates.h"
#include "app/DialogServices.h"
#include "core/Clock.h"
#include "ui/DesktopNotifier.h"
#include "ui/DisplayText.h"
#include "ui/HostDialog.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtMonitorView.h"
#include "ui/TrayIcon.h"

namespace {

// Nothing runs while the pictures are taken: the monitor is never started.
class IdleProbes : public HostProbes {
  public:
    bool checkTcpConnect(const std::string&, std::int32_t) override { return false; }
    bool checkTcpReceive(const ServerItem&) override { return false; }
    bool checkTcpSendReceive(const ServerItem&) override { return false; }
    void setPingAddress(const std::string&) override {}
    int ping() override { return 0; }
    ServiceHandle openServiceManager(const std::string&) override { return nullptr; }
    bool queryServiceRunning(ServiceManagerHandle&, const std::string&, bool&) override { return false; }
    void closeServiceManager(ServiceHandle) override {}
};

class IdleAlerts : public HostAlerts {
  public:
    void logEvent(std::string, std::time_t) override {}
    void runUpActions(const ServerItem&, std::time_t) override {}
    void runDownActions(const ServerItem&, std::time_t) override {}
};

class IdleServices : public DialogServices {
  public:
    void playSound(const std::string&) override {}
    void runShellCommand(const std::string&) override {}
    ServiceListing listServices(const std::string&) override { return {}; }
};

ServerItem host(const char* name, const char* address, std::int8_t type, int good, int bad, int consecutive,
                int allowed, std::int32_t status) {
    ServerItem it;
    it.name = name;
    it.address = address;
    it.type = type;
    it.goodCount = good;
    it.badCount = bad;
    it.consecutiveFailures = consecutive;
    it.failuresAllowed = allowed;
    it.status = status;
    return it;
}

void save(QWidget* w, const QString& dir, const char* name) {
    w->grab().save(QDir(dir).filePath(QString::fromLatin1(name)));
}

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);
    QTemporaryDir settings;
    MessageBox::setTestMode(true);

    IdleServices services;
    auto factory = [](const ComponentContext&) {
        AppComponents parts;
        parts.probes = std::make_unique<IdleProbes>();
        parts.alerts = std::make_unique<IdleAlerts>();
        parts.clock = std::make_unique<SystemClock>();
        return parts;
    };
    TForm1 window(QDir(settings.path()).filePath(QStringLiteral("vardo.cfg")).toStdString(), factory,
                  services);

    ServerDoc& doc = window.app().document();
    ServerItem web = host("Web server", "127.0.0.1", HostTcpIp, 42, 0, 0, 2, StatusSuccess);
    web.tcpPort = 80;
    web.tcpType = TcpConnectSendReceive;
    web.sendText = "HEAD / HTTP/1.0\r\n\r\n";
    web.recvText = "HTTP/1.";
    web.description = "The intranet front page.\r\nChecked with a HEAD request.";
    doc.append(web);
    ServerItem mail = host("Mail relay", "mail.example.lan", HostTcpIp, 40, 2, 1, 2, StatusFailure);
    mail.tcpPort = 25;
    mail.tcpType = TcpConnectReceive;
    mail.recvText = "220";
    doc.append(mail);
    doc.append(host("Gateway", "192.168.1.1", HostPing, 30, 12, 4, 2, StatusFailure));
    ServerItem dbus = host("Message bus", "localhost", HostService, 41, 1, 0, 0, StatusSuccess);
    dbus.service = "dbus";
    doc.append(dbus);
    ServerItem ssh = host("Backup SSH", "backup.example.lan", HostTcpIp, 12, 0, 0, 1, StatusChecking);
    ssh.tcpPort = 22;
    doc.append(ssh);

    window.app().updateSettings([](ServerCfg& c) {
        c.mailServer = "mail.example.lan";
        c.fromAddress = "vardomon@example.lan";
        c.fromName = "Vardomon";
        c.mailSubject = "%s changed state at %t";
        c.interval = 2;
        c.doLog = 1;
        c.logFile = "/var/tmp/vardomon.log";
    });
    window.show();
    QTimer::singleShot(200, &app, [&] {
        window.monitorView().refreshAllRows();
        window.monitorView().setStatusText("Checking: Backup SSH");
        // The monitor paints a checked row black; a rebuild leaves it in the default colour.
        window.monitorView().showRowStatus(0, *doc.at(0));
        QApplication::processEvents();
        save(&window, out, "monitor-view.png");

        auto* pages = window.findChild<QTabWidget*>(QStringLiteral("pcMain"));
        pages->setCurrentIndex(1);
        window.monitorView().setStatusText("12 seconds until next check.");
        QApplication::processEvents();
        save(&window, out, "configuration-view.png");

        TAddHostDlg& dlg = window.hostDialog();
        dlg.record = *doc.at(0);
        dlg.record.events.downCmd = true;
        dlg.record.events.downCmdLine = "/usr/local/bin/page-oncall \"%s is down\"";
        dlg.record.notify.sendMails = true;
        dlg.record.notify.mailList = "ops@example.lan,admin@example.lan";
        dlg.show();
        auto* hostPages = dlg.findChild<QTabWidget*>(QStringLiteral("pcHost"));
        const char* names[] = {"host-general.png", "host-options.png", "host-events.png",
                               "host-notifications.png"};
        for (int i = 0; i < 4; ++i) {
            hostPages->setCurrentIndex(i);
            QApplication::processEvents();
            save(&dlg, out, names[i]);
        }
        dlg.hide();

        QMenu* tray = window.tray().menu();
        tray->popup(window.geometry().center());
        wait(200);
        save(tray, out, "tray-menu.png");
        tray->hide();

        DesktopNotifier notifier(QDBusConnection::sessionBus());
        const ServerItem gateway = *doc.at(2);
        notifier.notify({QStringLiteral("Server Down: ") + displayText(gateway.name),
                         displayMemo(expandTemplate(gateway, gateway.notify.downMsg, std::time(nullptr))),
                         true});
        wait(1500);
        const QRect screen = QApplication::primaryScreen()->geometry();
        constexpr int kWidth = 420;
        constexpr int kHeight = 100;
        QApplication::primaryScreen()
            ->grabWindow(0, screen.right() - kWidth, 0, kWidth, kHeight)
            .save(QDir(out).filePath(QStringLiteral("notification.png")));
        window.close();
        app.quit();
    });
    return QApplication::exec();
}
