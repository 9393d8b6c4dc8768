// The whole program against a real TCP server on 127.0.0.1: the window, the monitor thread,
// the real probes and the log. The server stops listening and comes back; the result row
// follows from Success through Failure (1) to the red lamp and back to Success.
#include <QIcon>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <fstream>
#include <sstream>

#include "UiTestHelpers.h"
#include "app/SystemComponents.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
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
