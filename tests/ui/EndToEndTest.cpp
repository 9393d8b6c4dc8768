// The whole program against a real TCP server on 127.0.0.1: the window, the monitor thread,
// the real probes and the log. The server stops listening and comes back; the result row
// follows from Success through Failure (1) to the red lamp and back to Success.
#include <QComboBox>
#include <QIcon>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "UiTestHelpers.h"
#include "alerts/SmtpAlertMailer.h"
#include "alerts/Templates.h"
#include "app/SystemComponents.h"
#include "storage/SettingsFile.h"
#include "support/AiosmtpdServer.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "ui/ImageList.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtMonitorView.h"

class EndToEndTest : public QObject {
    Q_OBJECT

  private slots:
    void aTcpHostGoesDownAndComesBack() {
        MessageBox::setTestMode(true);
        TempDir dir;
        LoopbackServer server(LoopbackServer::closing("hello\r\n"));
        const std::unique_ptr<DialogServices> services = makeSystemDialogServices();
        TForm1 win(dir.file("vardo.cfg"), makeSystemComponents, *services);
        win.show();
        QTRY_VERIFY(win.firstShowDone());
        const QStringList startupMessages = MessageBox::shownTexts();

        const std::string log = dir.file("vardo.log");
        win.app().updateSettings([&](ServerCfg& c) {
            c.doLog = 1;
            c.logFile = log;
            c.connectTimeout = 2000;
        });
        ServerItem web;
        web.name = "loopback web";
        web.address = "127.0.0.1";
        web.tcpPort = server.port();
        web.failuresAllowed = 1;
        web.notify.sendMails = false;
        win.app().document().append(web);
        win.monitorView().refreshAllRows();

        auto* model = &win.resultModel();
        auto status = [&] { return model->index(0, 2).data().toString(); };
        auto icon = [&] { return model->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(); };
        auto checkNow = [&] { child<QToolButton>(&win, "ToolButton1")->click(); };

        child<QToolButton>(&win, "tbStartStop")->click();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Success"), 10000);
        QCOMPARE(icon(), ImageList::icon(4).cacheKey());

        server.stopListening();
        checkNow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Failure (1)"), 10000);
        QCOMPARE(icon(), ImageList::icon(5).cacheKey());

        checkNow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Failure (2)"), 10000);
        QCOMPARE(icon(), ImageList::icon(3).cacheKey());

        server.listenAgain();
        checkNow();
        QTRY_COMPARE_WITH_TIMEOUT(status(), QStringLiteral("Success"), 10000);
        QCOMPARE(icon(), ImageList::icon(4).cacheKey());
        QCOMPARE(model->index(0, 3).data().toString(), QStringLiteral("2"));
        QCOMPARE(model->index(0, 4).data().toString(), QStringLiteral("2"));

        child<QToolButton>(&win, "tbStartStop")->click();
        MessageBox::setNextAnswer(MessageBox::No);
        win.close();
        QVERIFY(win.app().flags().threadDone);
        QVERIFY(startupMessages.size() <= 1);
        checkLog(log);
    }

    // The mail settings typed into the window, a test mail over STARTTLS with a login, and
    // the settings kept in settings.toml at the close.
    void aTestMailGoesOutFromTheConfigurationView() {
        MessageBox::setTestMode(true);
        TempDir dir;
        TestCertificates ca;
        const TestCertificates::Server cert = ca.server("DNS:localhost,IP:127.0.0.1");
        AiosmtpdServer server({"starttls", cert.certFile, cert.keyFile, "alerts@test.example", "s3cret", {}});
        // An extra authority has no control of its own: settings.toml names it.
        writeFileBytes(dir.file("settings.toml"), "[mail]\nca_file = \"" + ca.caFile() + "\"\n");
        const std::unique_ptr<DialogServices> services = makeSystemDialogServices();
        TForm1 win(dir.file("vardo.cfg"), makeSystemComponents, *services);
        win.show();
        QTRY_VERIFY(win.firstShowDone());

        child<QLineEdit>(&win, "txtMailServer")->setText(QStringLiteral("localhost"));
        child<QLineEdit>(&win, "txtFromAddress")->setText(QStringLiteral("vardo@test.example"));
        child<QLineEdit>(&win, "txtFromName")->setText(QStringLiteral("Vardo"));
        child<QSpinBox>(&win, "spMailPort")->setValue(server.port());
        child<QComboBox>(&win, "cboMailSecurity")->setCurrentIndex(1);
        child<QLineEdit>(&win, "txtMailUser")->setText(QStringLiteral("alerts@test.example"));
        child<QLineEdit>(&win, "txtMailPassword")->setText(QStringLiteral("s3cret"));
        child<QLineEdit>(&win, "txtTestMailTo")->setText(QStringLiteral("ops@test.example"));
        MessageBox::clearShown();
        const std::time_t before = std::time(nullptr);
        child<QPushButton>(&win, "btnTestMail")->click();
        const std::time_t after = std::time(nullptr);
        QCOMPARE(MessageBox::shownTexts(),
                 QStringList{QStringLiteral(
                     "Test mail sent. The mail server answered: 250 Message accepted for delivery")});

        QTRY_COMPARE(server.delivered(), 1);
        const std::string mail = server.mail(0);
        const std::string host = localHostName();
        // A bare host name is no domain: EHLO then names the loopback address.
        const std::string ehloName = host.find('.') != std::string::npos ? host : "[127.0.0.1]";
        QVERIFY(mail.starts_with(
            "EHLO " + ehloName +
            "\nTLS\nAUTH alerts@test.example\nFROM vardo@test.example\nRCPT ops@test.example\nDATA\n"
            "From: Vardo<vardo@test.example>\r\nTo: ops@test.example\r\n"
            "Subject: Kestrune Vardomon test mail\r\nMime-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n\r\n\r\n"));
        auto body = [&](std::time_t t) {
            return "This test mail was sent by Kestrune Vardomon on " + host + " at " + dateText(t) + ".\r\n";
        };
        QVERIFY(mail.ends_with(body(before)) || mail.ends_with(body(after)));

        win.close();
        SettingsFile saved;
        QVERIFY(saved.load(dir.file("settings.toml")));
        QCOMPARE(saved.settings.mail.port, server.port());
        QVERIFY(saved.settings.mail.security == MailSecurity::StartTls);
        QCOMPARE(saved.settings.mail.user, std::string("alerts@test.example"));
        QCOMPARE(saved.settings.mail.password, std::string("s3cret"));
        QCOMPARE(saved.settings.mail.caFile, ca.caFile());
    }

  private:
    static void checkLog(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string lines = text.str();
        const auto down = lines.find(": Server Down: loopback web\r\n");
        const auto up = lines.find(": Server Up: loopback web\r\n");
        QVERIFY(down != std::string::npos);
        QVERIFY(up != std::string::npos && up > down);
    }
};

QTEST_MAIN(EndToEndTest)
#include "EndToEndTest.moc"
