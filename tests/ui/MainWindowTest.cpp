// The main window as a user walks it: toolbar, menus, both grids, the host commands with
// their refresh rules, the options, the document commands, start-up, shutdown, Start/Stop,
// Check Now, help and the about box. The monitor runs on recording fakes.
#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QUrl>
#include <QWindow>
#include <filesystem>
#include <memory>
#include <thread>

#include "UiTestHelpers.h"
#include "app/DialogServices.h"
#include "platform/ConfigLocation.h"
#include "support/MonitorFakes.h"
#include "support/TempDir.h"
#include "ui/AboutBox.h"
#include "ui/FileDialog.h"
#include "ui/GridView.h"
#include "ui/HistoryWindow.h"
#include "ui/HostDialog.h"
#include "ui/ImageList.h"
#include "ui/MainWindow.h"
#include "ui/MessageBox.h"
#include "ui/QtMessageSink.h"
#include "ui/QtMonitorView.h"
#include "ui/SpinEdit.h"
#include "ui/TrayIcon.h"

namespace {

class NoServices : public DialogServices {
  public:
    void playSound(const std::string&) override {}
    void runShellCommand(const std::string&) override {}
    ServiceListing listServices(const std::string&) override { return {}; }
};

ServerItem host(const std::string& name, int port = 7) {
    ServerItem it;
    it.name = name;
    it.address = "127.0.0.1";
    it.tcpPort = port;
    return it;
}

qint64 iconKey(int index) {
    return ImageList::icon(index).cacheKey();
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

  public slots:
    // Receives the help page instead of the desktop.
    void openUrl(const QUrl& url) { openedUrls.append(url); }

  private:
    std::unique_ptr<TempDir> dir;
    std::string cfgPath;
    Journal journal;
    NoServices services;
    FakeProbes* probes = nullptr;
    std::unique_ptr<TForm1> win;
    QList<QUrl> openedUrls;

    void open(std::string startupError = "") {
        auto factory = [this, startupError](const ComponentContext&) {
            AppComponents parts;
            auto p = std::make_unique<FakeProbes>(journal);
            p->quiet = true;
            probes = p.get();
            parts.probes = std::move(p);
            auto a = std::make_unique<RecordingAlerts>(journal);
            a->quiet = true;
            parts.alerts = std::move(a);
            auto c = std::make_unique<FakeClock>(journal);
            c->quiet = true;
            // Sleeps are short but real, so a running monitor does not spin.
            c->onSleep = [] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); };
            parts.clock = std::move(c);
            parts.startupError = startupError;
            return parts;
        };
        win = std::make_unique<TForm1>(cfgPath, factory, services);
        win->show();
        QTRY_VERIFY(win->firstShowDone());
    }

    template <typename W>
    W* c(const char* name) {
        return child<W>(win.get(), name);
    }
    QAction* action(const char* name) {
        auto* a = c<QAction>(name);
        if (!a->isEnabled()) {
            qFatal("action %s is disabled", name);
        }
        return a;
    }
    GridView* grid(const char* name) { return c<GridView>(name); }
    QString cell(const char* gridName, int row, int column) {
        auto* g = grid(gridName);
        return g->model()->index(row, column).data().toString();
    }
    ServerDoc& doc() { return win->app().document(); }
    void select(const char* gridName, int row) {
        auto* g = grid(gridName);
        g->setCurrentIndex(g->model()->index(row, 0));
    }
    void addHosts(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            doc().append(host(n));
        }
        win->monitorView().refreshAllRows();
    }
    void showPage(const char* page) { c<QTabWidget>("pcMain")->setCurrentWidget(c<QWidget>(page)); }

  private slots:
    void init() {
        MessageBox::setTestMode(true);
        MessageBox::clearShown();
        FileDialog::setTestMode(true);
        dir = std::make_unique<TempDir>();
        cfgPath = dir->file("cfg/vardo.cfg");
        openedUrls.clear();
    }
    void cleanup() {
        if (win) {
            win->close();
        }
        win.reset();
        dir.reset();
    }

    void windowLooksAsDesigned() {
        open();
        QCOMPARE(win->windowTitle(), QStringLiteral("Kestrune Vardomon"));
        // The design size is the least: the window grows where its font needs more.
        QVERIFY(win->width() >= 665 && win->height() >= 479);
        QCOMPARE(win->statusText(), QStringLiteral("Idle"));
        struct Button {
            const char* name;
            const char* caption;
            const char* hint;
            int image;
        };
        const Button buttons[] = {
            {"tbNew", "New Doc", "Create a new Vardomon configuration file.", 1},
            {"tbOpen", "Open Doc", "Open an existing Vardomon configuration file.", 11},
            {"tbSave", "Save Doc", "Save the current Vardomon configuration file.", 2},
            {"tbStartStop", "Start", "Start the Monitor", 20},
            {"ToolButton1", "Check Now", "Run check now", 15},
            {"ToolButton3", "Add Srv", "", 12},
            {"ToolButton4", "Del Srv", "", 13},
            {"ToolButton5", "Edit Srv", "", 9},
        };
        for (const Button& b : buttons) {
            auto* tb = c<QToolButton>(b.name);
            QCOMPARE(tb->text(), QString::fromLatin1(b.caption));
            QCOMPARE(tb->toolTip(), QString::fromLatin1(b.hint));
            QCOMPARE(tb->icon().cacheKey(), iconKey(b.image));
            QCOMPARE(tb->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        }
        struct Item {
            const char* name;
            const char* text;
            QKeySequence key;
            int image;
        };
        const Item items[] = {
            {"mnuNew", "&New", QKeySequence(Qt::CTRL | Qt::Key_N), 1},
            {"mnuOpen", "&Open", QKeySequence(Qt::CTRL | Qt::Key_O), 11},
            {"mnuSave", "&Save", QKeySequence(Qt::CTRL | Qt::Key_S), 2},
            {"mnuSaveAs", "Save &As...", QKeySequence(), -1},
            {"mnuExit", "E&xit", QKeySequence(Qt::CTRL | Qt::Key_X), -1},
            {"mnuStart", "&Start", QKeySequence(Qt::Key_F7), 20},
            {"mnuCheckNow", "&Check Now", QKeySequence(Qt::Key_F5), 15},
            {"AddServer1", "&Add Server", QKeySequence(Qt::CTRL | Qt::Key_A), 12},
            {"RemoveServer1", "&Remove Server", QKeySequence(Qt::CTRL | Qt::Key_R), 13},
            {"EditServer1", "&Edit Server", QKeySequence(Qt::CTRL | Qt::Key_E), 9},
            {"mnuViewMonitor", "&Monitor", QKeySequence(Qt::Key_F10), 23},
            {"mnuViewConfig", "&Configuration", QKeySequence(Qt::Key_F11), 17},
            {"mnuAbout", "&About...", QKeySequence(Qt::Key_F2), 22},
            {"mnuHelpPage", "&Help File...", QKeySequence(Qt::Key_F1), -1},
        };
        for (const Item& i : items) {
            auto* a = action(i.name);
            QCOMPARE(a->text(), QString::fromLatin1(i.text));
            QCOMPARE(a->shortcut(), i.key);
            QCOMPARE(a->icon().cacheKey(), i.image < 0 ? QIcon().cacheKey() : iconKey(i.image));
        }
        QStringList menus;
        for (QAction* m : win->menuBar()->actions()) {
            menus.append(m->text());
        }
        QCOMPARE(menus, (QStringList{"&File", "Mo&nitor", "&Config", "&View", "&Help"}));

        auto* pages = c<QTabWidget>("pcMain");
        QCOMPARE(pages->tabText(0), QStringLiteral("&Monitor View"));
        QCOMPARE(pages->tabText(1), QStringLiteral("C&onfiguration View"));
        QCOMPARE(pages->currentWidget(), c<QWidget>("tsResults"));

        auto* results = grid("resultlist");
        const int widths[] = {230, 136, 93, 93, 95};
        const char* captions[] = {"Name", "Type", "Status", "Good Count", "Bad Count"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(results->model()->headerData(i, Qt::Horizontal).toString(),
                     QString::fromLatin1(captions[i]));
            QVERIFY(results->columnWidth(i) >= widths[i]);
        }
        auto* hosts = grid("hostlist");
        QCOMPARE(hosts->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Address"));
        QVERIFY(hosts->columnWidth(0) >= 151);
        QVERIFY(hosts->columnWidth(1) >= 128);
        QCOMPARE(results->selectionBehavior(), QAbstractItemView::SelectRows);
        QCOMPARE(results->editTriggers(), QAbstractItemView::NoEditTriggers);
        QVERIFY(!results->rootIsDecorated());
        QVERIFY(c<QLineEdit>("txtDialPrefix")->isHidden());
        QCOMPARE(c<QCheckBox>("cbxOpenLast")->layoutDirection(), Qt::RightToLeft);
    }

    void typesAndStatusesShowWholeAndEveryAccessKeyIsOnce() {
        open();
        ServerItem tcp = host("tcp");
        tcp.tcpType = TcpConnectSendReceive;
        doc().append(tcp);
        ServerItem failing = host("failing");
        failing.failuresAllowed = 10000;
        failing.consecutiveFailures = 9999;
        doc().append(failing);
        win->monitorView().refreshAllRows();
        QAbstractItemView* results = grid("resultlist");
        auto* tree = grid("resultlist");
        QVERIFY(tree->columnWidth(1) >= results->sizeHintForColumn(1));
        QVERIFY(tree->columnWidth(2) >= results->sizeHintForColumn(2));
        for (const char* page : {"tsResults", "tsConfig"}) {
            showPage(page);
            QCOMPARE(clashingAccessKeys(win.get()), QStringList{});
            QCOMPARE(cutCaptions(win.get()).join("|"), QString());
        }
    }

    void trayLampShowsTheWorstHostAndGreyWhenStopped() {
        open();
        ServerItem good = host("good");
        good.status = StatusSuccess;
        ServerItem failing = host("failing");
        failing.failuresAllowed = 2;
        failing.consecutiveFailures = 1;
        ServerItem down = host("down");
        down.failuresAllowed = 2;
        down.consecutiveFailures = 3;
        for (const ServerItem& it : {good, failing, down}) {
            doc().append(it);
        }
        win->monitorView().refreshAllRows();
        QCOMPARE(win->tray().lamp(), Lamp::Grey);
        // The monitor holds on in its first check, so the list keeps these states.
        std::atomic<bool> release{false};
        probes->duringProbe = [&] {
            while (!release) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        };
        c<QToolButton>("tbStartStop")->click();
        QCOMPARE(win->tray().lamp(), Lamp::Red);
        QVERIFY(win->tray().toolTip().endsWith(QStringLiteral("1 up, 1 failing, 1 down")));
        doc().remove(2);
        win->monitorView().refreshAllRows();
        QCOMPARE(win->tray().lamp(), Lamp::Yellow);
        doc().remove(1);
        win->monitorView().refreshAllRows();
        QCOMPARE(win->tray().lamp(), Lamp::Green);
        action("mnuStart")->trigger();
        QCOMPARE(win->tray().lamp(), Lamp::Grey);
        release = true;
        QTRY_VERIFY(win->app().flags().threadDone);

        // Without a tray to come back from, closing still ends the program.
        win->app().liveConfig().updateExtra([](Settings& s) { s.desktop.closeToTray = true; });
        QVERIFY(win->close());
    }

    void trayMutesEveryHostForAnHourAndTheHostMenuUnmutesOne() {
        open();
        addHosts({"gw", "db"});
        win->tray().menu()->findChild<QAction*>("trayMute1h")->trigger();
        QVERIFY(win->tray().toolTip().endsWith(QStringLiteral(", 2 muted")));
        QVERIFY(cell("resultlist", 1, 0).startsWith(QStringLiteral("db")));
        QVERIFY(cell("resultlist", 1, 0).contains(QStringLiteral("muted until ")));
        // 1700000000 is the fake clock's now.
        QCOMPARE(readFileBytes(dir->file("cfg/settings.toml")),
                 std::string("[monitor]\nmutes = [{ host = \"gw\", until = 2023-11-14T23:13:20Z }, "
                             "{ host = \"db\", until = 2023-11-14T23:13:20Z }]\n"));
        select("resultlist", 0);
        action("mnuMuteOff")->trigger();
        QVERIFY(win->tray().toolTip().endsWith(QStringLiteral(", 1 muted")));
        QCOMPARE(cell("resultlist", 0, 0), QStringLiteral("gw"));
    }

    void gridsShowEveryHostWithItsIconAndColour() {
        open();
        QAbstractItemModelTester resultTester(&win->resultModel());
        QAbstractItemModelTester hostTester(&win->hostModel());
        ServerItem down = host("down");
        down.failuresAllowed = 2;
        down.consecutiveFailures = 3;
        doc().append(host("fresh"));
        doc().append(down);
        ServerItem ok = host("ok");
        ok.status = StatusSuccess;
        ok.goodCount = 5;
        doc().append(ok);
        win->monitorView().refreshAllRows();
        auto* m = grid("resultlist")->model();
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(cell("resultlist", 0, 2), QStringLiteral("Failure (0)"));
        QCOMPARE(m->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(), iconKey(5));
        QCOMPARE(m->index(0, 1).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(255, 0, 0));
        QCOMPARE(cell("resultlist", 1, 2), QStringLiteral("Failure (3)"));
        QCOMPARE(m->index(1, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(), iconKey(3));
        QCOMPARE(grid("hostlist")->model()->index(1, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(),
                 iconKey(3));
        QCOMPARE(cell("resultlist", 2, 3), QStringLiteral("5"));
        QVERIFY(!m->index(2, 0).data(Qt::ForegroundRole).isValid());  // the grid's default colour
        QCOMPARE(cell("hostlist", 2, 1), QStringLiteral("127.0.0.1"));
    }

    void startStopFollowsTheTableEveryTime() {
        open();
        auto* tb = c<QToolButton>("tbStartStop");
        auto* menu = action("mnuStart");
        for (int round = 0; round < 2; ++round) {
            tb->click();
            QVERIFY(win->app().isMonitoring());
            QCOMPARE(tb->text(), QStringLiteral("Stop"));
            QCOMPARE(tb->toolTip(), QStringLiteral("Stop the Monitor"));
            QCOMPARE(tb->icon().cacheKey(), iconKey(21));
            QCOMPARE(menu->text(), QStringLiteral("&Stop"));
            QCOMPARE(menu->icon().cacheKey(), iconKey(21));
            menu->trigger();
            QVERIFY(!win->app().isMonitoring());
            QCOMPARE(tb->text(), QStringLiteral("Start"));
            QCOMPARE(tb->toolTip(), QStringLiteral("Start the Monitor"));
            QCOMPARE(tb->icon().cacheKey(), iconKey(20));
            QCOMPARE(menu->text(), QStringLiteral("&Start"));
        }
    }

    void checkNowOnlySetsTheFlag() {
        open();
        c<QToolButton>("ToolButton1")->click();
        QVERIFY(win->app().flags().checkNow);
        win->app().flags().checkNow = false;
        action("mnuCheckNow")->trigger();
        QVERIFY(win->app().flags().checkNow);
        QVERIFY(!win->app().isMonitoring());
        QCOMPARE(win->statusText(), QStringLiteral("Idle"));
    }

    void monitoringUpdatesTheResultRows() {
        open();
        c<QLineEdit>("txtInterval")->setText(QStringLiteral("0"));
        ServerItem bad = host("bad");
        bad.failuresAllowed = 1;
        addHosts({"good"});
        doc().append(bad);
        win->monitorView().refreshAllRows();
        probes->duringProbe = [this] {
            // The second host's checks fail.
            static thread_local int calls = 0;
            probes->tcpFallback = (++calls % 2) == 1;
        };
        c<QToolButton>("tbStartStop")->click();
        QTRY_VERIFY(cell("resultlist", 1, 2).startsWith(QStringLiteral("Failure (")) &&
                    cell("resultlist", 1, 2) != QStringLiteral("Failure (0)") &&
                    cell("resultlist", 1, 2) != QStringLiteral("Failure (1)"));
        c<QToolButton>("tbStartStop")->click();
        QTRY_VERIFY(win->app().flags().threadDone);
        QTest::qWait(20);
        auto* m = grid("resultlist")->model();
        QCOMPARE(cell("resultlist", 0, 2), QStringLiteral("Success"));
        QCOMPARE(m->index(0, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(), iconKey(4));
        QCOMPARE(m->index(0, 0).data(Qt::ForegroundRole).value<QBrush>().color(), QColor(0, 0, 0));
        QCOMPARE(m->index(1, 0).data(Qt::DecorationRole).value<QIcon>().cacheKey(), iconKey(3));
        const ServerItem first = *doc().at(0);
        QCOMPARE(cell("resultlist", 0, 3), QString::number(first.goodCount));
    }

    void addRebuildsAfterOkAndCancel() {
        open();
        QSignalSpy resets(&win->resultModel(), &QAbstractItemModel::modelReset);
        onModal<TAddHostDlg>([](TAddHostDlg* d) { child<QPushButton>(d, "btnCancel")->click(); });
        c<QToolButton>("ToolButton3")->click();
        QCOMPARE(doc().count(), 0u);
        QVERIFY(!doc().modified);
        QCOMPARE(resets.count(), 1);

        onModal<TAddHostDlg>([](TAddHostDlg* d) {
            child<QLineEdit>(d, "txtName")->setText(QStringLiteral("web"));
            child<QLineEdit>(d, "txtAddress")->setText(QStringLiteral("127.0.0.1"));
            child<QLineEdit>(d, "txtTcpPort")->setText(QStringLiteral("80"));
            child<QPushButton>(d, "btnOk")->click();
        });
        showPage("tsConfig");
        c<QPushButton>("btnAdd")->click();
        QCOMPARE(doc().count(), 1u);
        QVERIFY(doc().modified);
        QCOMPARE(cell("resultlist", 0, 0), QStringLiteral("web"));
        QCOMPARE(cell("resultlist", 0, 1), QStringLiteral("TCP Connect"));
        QCOMPARE(cell("hostlist", 0, 1), QStringLiteral("127.0.0.1"));
    }

    void editFromEitherGridWithItsRefreshRule() {
        open();
        addHosts({"a", "b"});
        QSignalSpy resets(&win->resultModel(), &QAbstractItemModel::modelReset);
        select("resultlist", 1);
        onModal<TAddHostDlg>([](TAddHostDlg* d) {
            QCOMPARE(child<QLineEdit>(d, "txtName")->text(), QStringLiteral("b"));
            child<QPushButton>(d, "btnCancel")->click();
        });
        c<QToolButton>("ToolButton5")->click();
        QCOMPARE(resets.count(), 0);
        QCOMPARE(grid("resultlist")->firstSelectedRow(), 1);

        showPage("tsConfig");
        select("hostlist", 0);
        onModal<TAddHostDlg>([](TAddHostDlg* d) { child<QPushButton>(d, "btnCancel")->click(); });
        c<QPushButton>("btnEdit")->click();
        QCOMPARE(resets.count(), 1);

        showPage("tsResults");
        select("resultlist", 0);
        onModal<TAddHostDlg>([](TAddHostDlg* d) {
            child<QLineEdit>(d, "txtName")->setText(QStringLiteral("renamed"));
            child<QPushButton>(d, "btnOk")->click();
        });
        action("EditServer1")->trigger();
        QCOMPARE(resets.count(), 2);
        QCOMPARE(cell("resultlist", 0, 0), QStringLiteral("renamed"));
        QCOMPARE(doc().at(0)->name, std::string("renamed"));

        // Double-click edits the row under the pointer's grid.
        onModal<TAddHostDlg>([](TAddHostDlg* d) {
            QCOMPARE(child<QLineEdit>(d, "txtName")->text(), QStringLiteral("renamed"));
            child<QPushButton>(d, "btnCancel")->click();
        });
        select("resultlist", 0);
        emit grid("resultlist")->doubleClicked(grid("resultlist")->model()->index(0, 0));
        QCOMPARE(resets.count(), 2);
    }

    void editOrRemoveWithoutASelectionDoesNothing() {
        open();
        addHosts({"a"});
        showPage("tsConfig");
        grid("hostlist")->clearSelection();
        c<QPushButton>("btnEdit")->click();
        c<QPushButton>("btnRemove")->click();
        QVERIFY(MessageBox::shownTexts().isEmpty());
        QCOMPARE(doc().count(), 1u);
    }

    void removeTakesTheHostOfTheShowingGrid() {
        open();
        addHosts({"a", "b", "c"});
        select("resultlist", 2);
        select("hostlist", 0);
        MessageBox::setNextAnswer(MessageBox::No);
        action("RemoveServer1")->trigger();
        QCOMPARE(doc().count(), 3u);
        MessageBox::setNextAnswer(MessageBox::Yes);
        c<QToolButton>("ToolButton4")->click();
        QCOMPARE(MessageBox::shownTexts(), (QStringList{"Are you sure you want to remove this item?",
                                                        "Are you sure you want to remove this item?"}));
        QCOMPARE(doc().count(), 2u);
        QCOMPARE(doc().at(0)->name, std::string("a"));
        QCOMPARE(doc().at(1)->name, std::string("b"));
        QCOMPARE(grid("resultlist")->model()->rowCount(), 2);

        showPage("tsConfig");
        select("hostlist", 0);
        MessageBox::setNextAnswer(MessageBox::Yes);
        c<QPushButton>("btnRemove")->click();
        QCOMPARE(doc().at(0)->name, std::string("b"));
    }

    void historyOpensAWindowOfItsOwnForTheSelectedHostEachTime() {
        open();
        addHosts({"a", "b"});
        select("resultlist", 1);
        QAction* history = action("mnuHistory");
        QCOMPARE(history->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_H));
        QVERIFY(grid("resultlist")->actions().contains(history));
        history->trigger();
        history->trigger();
        const QList<HistoryWindow*> windows = win->findChildren<HistoryWindow*>();
        QCOMPARE(windows.size(), 2);
        QVERIFY(windows[0]->isWindow() && windows[0]->isVisible());
        QCOMPARE(windows[1]->windowTitle(), QStringLiteral("History of b"));
    }

    void optionsReachTheSettingsAtOnce() {
        open();
        auto settings = [this] { return win->app().settings(); };
        auto* interval = c<QLineEdit>("txtInterval");
        interval->setText(QStringLiteral("abc"));
        QCOMPARE(settings().interval, 0);
        interval->setText(QStringLiteral("15x"));
        QCOMPARE(settings().interval, 15);
        auto* spin = child<UpDown>(win.get(), "spInterval");
        interval->setText(QStringLiteral("100"));
        spin->stepUp();
        QCOMPARE(interval->text(), QStringLiteral("100"));
        interval->setText(QStringLiteral("abc"));
        spin->stepDown();
        QCOMPARE(interval->text(), QStringLiteral("1"));
        QCOMPARE(settings().interval, 1);

        auto atOnce = [this] { return win->app().liveConfig().extra().monitor.checksAtOnce; };
        c<QLineEdit>("txtChecksAtOnce")->setText(QStringLiteral("16"));
        QCOMPARE(atOnce(), 16);
        c<QLineEdit>("txtChecksAtOnce")->setText(QStringLiteral("1000"));
        QCOMPARE(atOnce(), 256);

        auto* timeout = c<QLineEdit>("txtTimeout");
        timeout->clear();
        QCOMPARE(settings().connectTimeout, 0);
        timeout->setFocus();
        QTest::keyClicks(timeout, "12ab3");
        QCOMPARE(timeout->text(), QStringLiteral("123"));
        QTest::keyClick(timeout, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(timeout->text(), QStringLiteral("123"));
        QTest::keyClick(timeout, Qt::Key_Backspace);
        QCOMPARE(settings().connectTimeout, 12);

        QTest::keyClicks(c<QLineEdit>("txtMailServer"), "smtp.lan");
        QCOMPARE(settings().mailServer, std::string("smtp.lan"));
        c<QLineEdit>("txtMailSubject")->setText(QStringLiteral("%s is %t"));
        QCOMPARE(settings().mailSubject, std::string("%s is %t"));
        c<QCheckBox>("cbxOpenLast")->click();
        QCOMPARE(settings().openLast, 0);
        c<QCheckBox>("cbxNotifications")->click();
        QVERIFY(!win->app().liveConfig().extra().desktop.notifications);
        QVERIFY(MessageBox::shownTexts().isEmpty());
    }

    void logOptionsTestTheFile() {
        open();
        auto* logFile = c<QLineEdit>("txtLogFile");
        logFile->setText(QString::fromStdString(dir->file("none/x.log")));
        QVERIFY(win->app().settings().logFile.empty());  // typing alone changes nothing
        c<QPushButton>("btnSetLogFile")->click();
        QVERIFY(MessageBox::shownTexts().isEmpty());  // logging is off
        c<QCheckBox>("cbxDoLog")->click();
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Failed to open log file."});
        QVERIFY(c<QCheckBox>("cbxDoLog")->isChecked());
        logFile->setText(QString::fromStdString(dir->file("vardo.log")));
        c<QPushButton>("btnSetLogFile")->click();
        QCOMPARE(MessageBox::shownTexts().size(), 1);
        QVERIFY(std::filesystem::exists(dir->file("vardo.log")));
    }

    void documentCommandsAskAndReport() {
        open();
        addHosts({"a"});
        // Save on an unnamed document asks for a name; a name without a dot gets ".vdm".
        FileDialog::setNextFileName(QString::fromStdString(dir->file("report")));
        c<QToolButton>("tbSave")->click();
        QCOMPARE(doc().fileName, dir->file("report.vdm"));
        QCOMPARE(win->app().settings().lastDoc, dir->file("report.vdm"));

        // New with unsaved changes, answered No: emptied.
        doc().append(host("b"));
        MessageBox::setNextAnswer(MessageBox::No);
        c<QToolButton>("tbNew")->click();
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Do you want to save changes?"});
        QCOMPARE(doc().count(), 0u);
        QCOMPARE(grid("resultlist")->model()->rowCount(), 0);

        FileDialog::setNextFileName(QString::fromStdString(dir->file("report.vdm")));
        c<QToolButton>("tbOpen")->click();
        QCOMPARE(doc().count(), 1u);
        QCOMPARE(cell("resultlist", 0, 0), QStringLiteral("a"));

        // Open of a file that is not a document: the message, and an empty window.
        const std::string junk = dir->file("junk.vdm");
        writeFileBytes(junk, "not a document at all");
        FileDialog::setNextFileName(QString::fromStdString(junk));
        action("mnuOpen")->trigger();
        QCOMPARE(
            MessageBox::shownTexts().last(),
            QStringLiteral("Failed to open file:\r\nThis file does not appear to be a Vardomon document."));
        QCOMPARE(grid("resultlist")->model()->rowCount(), 0);
        QCOMPARE(win->app().settings().lastDoc, dir->file("report.vdm"));

        // Save As into a folder that does not exist: the message; the name stays.
        addHosts({"c"});
        FileDialog::setNextFileName(QString::fromStdString(dir->file("no/such/dir/x.vdm")));
        action("mnuSaveAs")->trigger();
        QCOMPARE(MessageBox::shownTexts().last(), QStringLiteral("Failed to save file."));
        QVERIFY(doc().fileName.empty());
        QVERIFY(doc().modified);
    }

    void startupFillsTheOptionsAndReopensTheLastDocument() {
        ServerDoc d;
        d.append(host("from-l\xE4st"));
        d.fileName = dir->file("last.vdm");
        QVERIFY(d.save());
        ServerCfg cfg;
        cfg.fileName = cfgPath;
        cfg.mailServer = "mail.lan";
        // 8-bit texts of the original platform show as Windows-1252 and keep their bytes.
        cfg.fromName = "J\xF6rg";
        cfg.mailSubject = "%s \x96 down";
        cfg.interval = 7;
        cfg.connectTimeout = 250;
        cfg.openLast = 1;
        cfg.doLog = 1;
        cfg.logFile = dir->file("log.txt");
        cfg.dialPrefix = "\xA7 9";
        cfg.lastDoc = d.fileName;
        std::filesystem::create_directories(dir->file("cfg"));
        QVERIFY(cfg.save());
        open("Ping cannot run here.");
        QCOMPARE(c<QLineEdit>("txtMailServer")->text(), QStringLiteral("mail.lan"));
        QCOMPARE(c<QLineEdit>("txtInterval")->text(), QStringLiteral("7"));
        QCOMPARE(c<QLineEdit>("txtTimeout")->text(), QStringLiteral("250"));
        QCOMPARE(c<QLineEdit>("txtDialPrefix")->text(), QStringLiteral("\u00A7 9"));
        QCOMPARE(c<QLineEdit>("txtFromName")->text(), QStringLiteral("J\u00F6rg"));
        QCOMPARE(c<QLineEdit>("txtMailSubject")->text(), QStringLiteral("%s \u2013 down"));
        QVERIFY(c<QCheckBox>("cbxDoLog")->isChecked());
        QCOMPARE(c<QLineEdit>("txtLogFile")->text(), QString::fromStdString(cfg.logFile));
        QCOMPARE(cell("resultlist", 0, 0), QStringLiteral("from-l\u00E4st"));
        // The start-up error once, and nothing for the log file, which opens.
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Ping cannot run here."});
        QCOMPARE(win->app().settings(), [&] {
            ServerCfg expect = cfg;
            expect.errorText.clear();
            return expect;
        }());
    }

    void settingsLiveUnderTheUsersConfigFolder() {
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(dir->path()));
        cfgPath = configFilePath();
        const std::string expected = dir->file("kestrune-vardomon/vardo.cfg");
        QCOMPARE(cfgPath, expected);
        open();  // first start: defaults, no folder yet
        QCOMPARE(c<QLineEdit>("txtInterval")->text(), QStringLiteral("1"));
        QVERIFY(c<QCheckBox>("cbxOpenLast")->isChecked());
        QVERIFY(!std::filesystem::exists(expected));
        c<QLineEdit>("txtInterval")->setText(QStringLiteral("3"));
        c<QLineEdit>("txtChecksAtOnce")->setText(QStringLiteral("8"));
        win->close();
        win.reset();
        QVERIFY(std::filesystem::exists(expected));
        open();  // second start: what the first one saved
        QCOMPARE(c<QLineEdit>("txtInterval")->text(), QStringLiteral("3"));
        QCOMPARE(c<QLineEdit>("txtChecksAtOnce")->text(), QStringLiteral("8"));
        if (saved.isNull()) {
            qunsetenv("XDG_CONFIG_HOME");
        } else {
            qputenv("XDG_CONFIG_HOME", saved);
        }
    }

    void closingIsRefusedWhenTheWantedSaveDoesNotHappen() {
        open();
        addHosts({"a"});
        c<QLineEdit>("txtFromName")->setText(QStringLiteral("Vardomon"));
        c<QToolButton>("tbStartStop")->click();
        MessageBox::setNextAnswer(MessageBox::Yes);  // then the Save As dialog is cancelled
        QVERIFY(!win->close());
        QVERIFY(win->isVisible());
        QVERIFY(win->app().isMonitoring());
        QCOMPARE(c<QToolButton>("tbStartStop")->text(), QStringLiteral("Stop"));
        QCOMPARE(MessageBox::shownTexts(), QStringList{"Do you want to save changes?"});
        QVERIFY(!std::filesystem::exists(cfgPath));

        // Answering No closes: the settings are saved, the monitor has ended.
        MessageBox::setNextAnswer(MessageBox::No);
        QVERIFY(win->close());
        QVERIFY(win->app().flags().threadDone);
        ServerCfg saved;
        QVERIFY(saved.load(cfgPath));
        QCOMPARE(saved.fromName, std::string("Vardomon"));
        win.reset();
    }

    void exitClosesTheWindow() {
        open();
        action("mnuExit")->trigger();
        QVERIFY(!win->isVisible());
        QVERIFY(std::filesystem::exists(cfgPath));
    }

    void viewMenuSwitchesPages() {
        open();
        action("mnuViewConfig")->trigger();
        QCOMPARE(c<QTabWidget>("pcMain")->currentWidget(), c<QWidget>("tsConfig"));
        action("mnuViewMonitor")->trigger();
        QCOMPARE(c<QTabWidget>("pcMain")->currentWidget(), c<QWidget>("tsResults"));
    }

    void helpOpensThePageBesideTheProgram() {
        open();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
        action("mnuHelpPage")->trigger();
        child<QAction>(&win->hostDialog(), "actionHelp")->trigger();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(openedUrls.size(), 2);
        QVERIFY(openedUrls[0].toLocalFile().endsWith(QStringLiteral("/KsVardomon.html")));
    }

    void aboutShowsAFreshBox() {
        open();
        QString title;
        onModal<TAboutBox>([&](TAboutBox* box) {
            title = box->windowTitle();
            child<QPushButton>(box, "btnCancel")->click();
        });
        action("mnuAbout")->trigger();
        QCOMPARE(title, QStringLiteral("About Vardomon"));
    }

    void monitorUpdatesFromAnotherThreadKeepTheirOrder() {
        open();
        std::vector<std::string> names;
        for (int i = 0; i < 50; ++i) {
            doc().append(host("h" + std::to_string(i)));
        }
        win->monitorView().refreshAllRows();
        QtMonitorView& view = win->monitorView();
        const std::size_t before = view.batches();
        std::thread worker([&] {
            for (int round = 1; round <= 200; ++round) {
                for (std::size_t row = 0; row < 50; ++row) {
                    ServerItem it = host("x");
                    it.goodCount = round;
                    it.badCount = round * 2;
                    it.status = round % 2 ? StatusSuccess : StatusFailure;
                    it.consecutiveFailures = 1;
                    view.markRowChecking(row);
                    view.showRowCounts(row, it);
                    view.showRowStatus(row, it);
                }
                view.setStatusText("round " + std::to_string(round));
            }
            view.refreshHostRows();
        });
        worker.join();
        QTRY_COMPARE(win->statusText(), QStringLiteral("round 200"));
        for (int row = 0; row < 50; ++row) {
            QCOMPARE(cell("resultlist", row, 2), QStringLiteral("Failure (1)"));
            QCOMPARE(cell("resultlist", row, 3), QStringLiteral("200"));
            QCOMPARE(cell("resultlist", row, 4), QStringLiteral("400"));
        }
        // Thirty thousand updates arrived in far fewer batches.
        QVERIFY(view.batches() - before < 1000);
    }

    void alertBoxesStandOnTheirOwnOneEachWithTheWarningIcon() {
        MessageBox::setTestMode(false);
        QWidget owner;
        owner.show();
        owner.showMinimized();
        auto sink = std::make_unique<QtMessageSink>(&owner);
        std::thread([&] {
            for (const char* text : {"web down", "mail down", "M\xFCller down"}) {
                sink->showMessageAsync(text);
            }
        }).join();
        auto alerts = [] {
            QList<QMessageBox*> boxes;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
                    boxes.append(box);
                }
            }
            return boxes;
        };
        QTRY_COMPARE(alerts().size(), 3);
        QStringList texts;
        for (QMessageBox* box : alerts()) {
            // No window of the program's owns it, so hiding the minimised window hides no box.
            QVERIFY(box->parentWidget() == nullptr);
            QVERIFY(box->windowHandle()->transientParent() == nullptr);
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->windowTitle(), QStringLiteral("Kestrune Vardomon"));
            texts.append(box->text());
        }
        texts.sort();
        QCOMPARE(texts, (QStringList{"M\u00FCller down", "mail down", "web down"}));
        sink.reset();
        QVERIFY(alerts().isEmpty());
    }

    void aBoxShowsMarkupAsTyped() {
        MessageBox::setTestMode(false);
        const std::unique_ptr<QMessageBox> box(MessageBox::alert(QStringLiteral("<h1>web</h1> down")));
        QCOMPARE(box->textFormat(), Qt::PlainText);
    }

    void aResultFollowsItsHostWhenARowAboveIsRemoved() {
        open();
        addHosts({"a", "b", "c", "d"});
        FakeProbes checks(journal);
        RecordingAlerts alerts(journal);
        FakeClock clock(journal);
        MonitorFlags flags;
        checks.tcpFallback = false;
        checks.duringProbe = [this] {
            doc().remove(0);
            win->monitorView().refreshAllRows();
        };
        MonitorContext ctx{doc(), win->app().liveConfig(), flags, checks, alerts, win->monitorView(), clock};
        checkHost(ctx, 2);
        QCOMPARE(cell("resultlist", 1, 0), QStringLiteral("c"));
        QCOMPARE(cell("resultlist", 1, 2), QStringLiteral("Failure (1)"));
        QCOMPARE(cell("resultlist", 1, 4), QStringLiteral("1"));
        QCOMPARE(cell("resultlist", 2, 0), QStringLiteral("d"));
        QCOMPARE(cell("resultlist", 2, 2), QStringLiteral("Failure (0)"));
        QCOMPARE(cell("resultlist", 2, 4), QStringLiteral("0"));
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
