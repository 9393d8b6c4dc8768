// The application's commands as a user meets them: start-up, first show, the document
// commands with their question and failure messages, the host commands with their refresh
// rules, the log options and shutdown.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "alerts/MonitorAlerts.h"
#include "app/Application.h"
#include "app/SystemComponents.h"
#include "core/ListenAddress.h"
#include "history/Schema.h"
#include "history/Sqlite.h"
#include "support/ActionFakes.h"
#include "support/HttpFetch.h"
#include "support/LoopbackServer.h"
#include "support/MonitorFakes.h"
#include "support/TempDir.h"
#include "tools/ExampleDocument.h"

namespace {

// Answers every question, file dialog and host dialog from a script, and records what the
// program said.
class ScriptedUser : public UserQuestions, public FileChooser, public HostEditor, public MessageSink {
  public:
    bool askYesNo(const std::string& text) override {
        asked.push_back(text);
        if (answers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return false;
        }
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void showMessage(const std::string& text) override { shown.push_back(text); }
    std::optional<std::string> chooseOpenPath() override { return next(openPaths); }
    std::optional<std::string> chooseSavePath() override { return next(savePaths); }
    bool editHost(ServerItem& record) override {
        HostEdit beside;
        return editHostWith(record, beside);
    }
    bool editHostWith(ServerItem& record, HostEdit& beside) override {
        ++edits;
        seen = record;
        seenExtras = beside.extras;
        if (!editAnswer) {
            return false;
        }
        record = *editAnswer;
        beside.extras = editExtras;
        return true;
    }
    void showMessageAsync(const std::string& text) override { shown.push_back(text); }

    std::deque<bool> answers;
    std::deque<std::optional<std::string>> openPaths;
    std::deque<std::optional<std::string>> savePaths;
    std::optional<ServerItem> editAnswer;
    HostExtras editExtras;
    std::optional<ServerItem> seen;
    HostExtras seenExtras;
    std::vector<std::string> asked;
    std::vector<std::string> shown;
    int savesAsked = 0;
    int edits = 0;

  private:
    std::optional<std::string> next(std::deque<std::optional<std::string>>& q) {
        ++savesAsked;
        if (q.empty()) {
            return std::nullopt;
        }
        auto v = q.front();
        q.pop_front();
        return v;
    }
};

ServerItem host(const std::string& name) {
    ServerItem it;
    it.name = name;
    it.address = "127.0.0.1";
    it.tcpPort = 1;
    return it;
}

class AppTest : public ::testing::Test {
  protected:
    // realAlerts: the program's own log and actions instead of recording ones.
    std::unique_ptr<Application> start(std::string startupError = "", bool realAlerts = false) {
        auto factory = [this, startupError, realAlerts](const ComponentContext& context) {
            AppComponents parts;
            auto p = std::make_unique<FakeProbes>(journal);
            probes = p.get();
            parts.probes = std::move(p);
            auto c = std::make_unique<FakeClock>(journal);
            clock = c.get();
            if (realAlerts) {
                parts.alerts = std::make_unique<MonitorAlerts>(context.cfg, context.view, context.messages,
                                                               *c, context.flags.connectState);
            } else {
                parts.alerts = std::make_unique<RecordingAlerts>(journal);
            }
            parts.clock = std::move(c);
            parts.startupError = startupError;
            return parts;
        };
        return std::make_unique<Application>(Application::Ui{view, user, user, user, user}, cfgPath, factory);
    }

    void writeConfig(const ServerCfg& values) {
        ServerCfg c = values;
        c.fileName = cfgPath;
        ASSERT_TRUE(c.save());
    }

    std::string writeDocument(const std::string& name, std::vector<ServerItem> items) {
        ServerDoc d;
        for (const auto& i : items) {
            d.append(i);
        }
        d.fileName = dir.file(name);
        EXPECT_TRUE(d.save());
        return d.fileName;
    }

    std::size_t refreshes() const { return journal.matching("view refreshAll").size(); }

    TempDir dir;
    std::string cfgPath = dir.file("cfg/vardo.cfg");
    Journal journal;
    RecordingView view{journal};
    ScriptedUser user;
    FakeProbes* probes = nullptr;
    FakeClock* clock = nullptr;
};

TEST_F(AppTest, FirstStartWithoutSettingsShowsAnEmptyDocumentAndSavesDefaultsAtShutdown) {
    auto app = start();
    const ServerCfg cfg = app->settings();
    EXPECT_EQ(cfg.interval, 1);
    EXPECT_EQ(cfg.connectTimeout, 5000);
    EXPECT_EQ(cfg.openLast, 1);
    EXPECT_EQ(cfg.doLog, 0);
    app->firstShow();
    EXPECT_TRUE(user.shown.empty());
    EXPECT_EQ(app->document().count(), 0u);
    EXPECT_EQ(refreshes(), 1u);

    app->shutdown();
    EXPECT_EQ(journal.matching("status ").back(), "status Shutting Down...");
    EXPECT_EQ(std::filesystem::file_size(cfgPath), 52u);
    EXPECT_FALSE(std::filesystem::exists(dir.file("cfg/settings.toml")));
}

TEST_F(AppTest, AMalformedSettingsFileIsReportedAndKeptAChangedSettingIsSaved) {
    const std::string extra = dir.file("cfg/settings.toml");
    std::filesystem::create_directories(dir.file("cfg"));
    writeFileBytes(extra, "[mail]\nport = \"x\"\n");
    {
        auto app = start();
        app->firstShow();
        EXPECT_EQ(user.shown,
                  std::vector<std::string>{extra + " line 2: port must be a whole number from 1 to 65535"});
        EXPECT_EQ(app->liveConfig().extra(), Settings{});
        app->shutdown();
        EXPECT_EQ(readFileBytes(extra), "[mail]\nport = \"x\"\n");
    }
    writeFileBytes(extra, "[mail]\nport = 465\n");
    auto app = start();
    EXPECT_EQ(app->liveConfig().extra().mail.port, 465);
    app->liveConfig().updateExtra([](Settings& s) { s.mail.security = MailSecurity::Tls; });
    app->shutdown();
    SettingsFile saved;
    ASSERT_TRUE(saved.load(extra));
    EXPECT_EQ(saved.settings.mail.port, 465);
    EXPECT_EQ(saved.settings.mail.security, MailSecurity::Tls);
}

TEST_F(AppTest, FirstShowReopensTheLastDocumentOrSaysWhyNot) {
    const std::string doc = writeDocument("hosts.vdm", {host("a"), host("b")});
    ServerCfg cfg;
    cfg.lastDoc = doc;
    writeConfig(cfg);
    {
        auto app = start();
        app->firstShow();
        EXPECT_TRUE(user.shown.empty());
        EXPECT_EQ(app->document().count(), 2u);
        EXPECT_FALSE(app->document().modified);
        EXPECT_EQ(app->document().fileName, doc);
    }
    std::filesystem::remove(doc);
    auto app = start();
    app->firstShow();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0], "Failed to open last document:\r\nFailed to open file for reading.");
    EXPECT_EQ(app->document().count(), 0u);
    EXPECT_EQ(app->settings().lastDoc, doc);
}

TEST_F(AppTest, StartupErrorAndLogTestComeBeforeTheLastDocument) {
    const std::string doc = writeDocument("hosts.vdm", {host("a")});
    ServerCfg cfg;
    cfg.lastDoc = doc;
    cfg.doLog = 1;
    cfg.logFile = dir.file("no/such/folder/vardo.log");
    writeConfig(cfg);
    auto app = start("Ping is not available: socket: Operation not permitted");
    app->firstShow();
    ASSERT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[0], "Ping is not available: socket: Operation not permitted");
    EXPECT_EQ(user.shown[1], "Failed to open log file.");
    EXPECT_EQ(app->document().count(), 1u);
    EXPECT_EQ(app->settings().doLog, 1);
}

TEST_F(AppTest, FirstShowServesTheMetricsWhereTheSettingsSayOrSaysWhyNot) {
    std::filesystem::create_directories(dir.file("cfg"));
    writeFileBytes(dir.file("cfg/settings.toml"), "[metrics]\nlisten = \"127.0.0.1:0\"\n");
    ServerCfg cfg;
    cfg.lastDoc = writeDocument("hosts.vdm", {host("a")});
    writeConfig(cfg);
    auto app = start();
    app->firstShow();
    EXPECT_TRUE(user.shown.empty());
    const std::optional<ListenAddress> at = parseListenAddress(app->metricsAddress());
    ASSERT_TRUE(at) << app->metricsAddress();
    const std::string text = httpBody(httpGet(at->port, "/metrics"));
    EXPECT_NE(text.find("\nvardomon_host_up{name=\"a\",address=\"127.0.0.1\",type=\"tcp\"} 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("\nvardomon_monitor_running 0\n"), std::string::npos) << text;

    writeFileBytes(dir.file("cfg/settings.toml"), "[metrics]\nlisten = \"" + app->metricsAddress() + "\"\n");
    auto second = start();
    second->firstShow();
    EXPECT_EQ(user.shown, std::vector<std::string>{"Cannot serve the metrics on " + at->text() +
                                                   ": Address already in use"});
}

TEST_F(AppTest, LogOptionsTestTheFileOnlyWhenLoggingIsOnAndNamed) {
    auto app = start();
    app->firstShow();
    const std::string bad = dir.file("missing/x.log");
    app->setLogFile(bad);  // logging off: no test
    EXPECT_TRUE(user.shown.empty());
    EXPECT_EQ(app->settings().logFile, bad);
    app->setLogEnabled(true);
    EXPECT_EQ(user.shown, std::vector<std::string>{"Failed to open log file."});
    EXPECT_EQ(app->settings().doLog, 1);
    app->setLogEnabled(false);
    EXPECT_EQ(user.shown.size(), 1u);
    app->setLogEnabled(true);
    app->setLogFile(dir.file("good.log"));
    EXPECT_EQ(user.shown.size(), 2u);
    EXPECT_TRUE(std::filesystem::exists(dir.file("good.log")));
    EXPECT_EQ(std::filesystem::file_size(dir.file("good.log")), 0u);
    app->setLogFile("");
    EXPECT_EQ(user.shown.size(), 2u);
}

TEST_F(AppTest, NewAsksOnlyAboutAModifiedDocument) {
    auto app = start();
    app->newCommand();
    EXPECT_TRUE(user.asked.empty());

    app->document().append(host("a"));
    user.answers = {false};
    app->newCommand();
    EXPECT_EQ(user.asked, std::vector<std::string>{"Do you want to save changes?"});
    EXPECT_EQ(app->document().count(), 0u);
    EXPECT_FALSE(app->document().modified);
}

TEST_F(AppTest, YesThenCancelledSaveAsKeepsTheDocument) {
    auto app = start();
    app->document().append(host("a"));
    user.answers = {true};
    EXPECT_FALSE(app->promptAndReset());
    EXPECT_EQ(user.savesAsked, 1);
    EXPECT_EQ(app->document().count(), 1u);
    EXPECT_TRUE(app->document().modified);
}

TEST_F(AppTest, OpenClosesTheOldDocumentEvenWhenTheDialogIsCancelled) {
    const std::string doc = writeDocument("hosts.vdm", {host("x"), host("y"), host("z")});
    auto app = start();
    app->document().append(host("a"));
    app->document().modified = false;
    app->openCommand();
    EXPECT_EQ(app->document().count(), 0u);

    user.openPaths = {doc};
    app->openCommand();
    EXPECT_EQ(app->document().count(), 3u);
    EXPECT_EQ(app->settings().lastDoc, doc);

    user.openPaths = {dir.file("nothing.vdm")};
    app->openCommand();
    ASSERT_EQ(user.shown.size(), 1u);
    EXPECT_EQ(user.shown[0], "Failed to open file:\r\nFailed to open file for reading.");
    EXPECT_EQ(app->document().count(), 0u);
    EXPECT_EQ(app->settings().lastDoc, doc);
}

TEST_F(AppTest, SaveAsAddsTheExtensionAndRemembersTheDocument) {
    auto app = start();
    app->document().append(host("a"));
    user.savePaths = {dir.file("report")};
    EXPECT_TRUE(app->saveDocument());  // unnamed: Save As
    EXPECT_EQ(app->document().fileName, dir.file("report.vdm"));
    EXPECT_EQ(app->settings().lastDoc, dir.file("report.vdm"));
    EXPECT_FALSE(app->document().modified);
    EXPECT_TRUE(std::filesystem::exists(dir.file("report.vdm")));

    // Save under the existing name leaves lastDoc alone.
    app->updateSettings([](ServerCfg& c) { c.lastDoc = "elsewhere"; });
    app->document().append(host("b"));
    EXPECT_TRUE(app->saveDocument());
    EXPECT_EQ(app->settings().lastDoc, "elsewhere");
}

TEST_F(AppTest, FailedSavesSayHowAndKeepNameAndChanges) {
    // A path below a plain file fails for every user, root included.
    auto app = start();
    const std::string blocker = dir.file("plain-file");
    std::filesystem::create_directories(dir.path());
    { std::ofstream(blocker) << "x"; }
    app->document().append(host("a"));
    app->document().fileName = dir.file("good.vdm");

    user.savePaths = {blocker + "/under.vdm"};
    EXPECT_FALSE(app->saveDocumentAs());
    EXPECT_EQ(user.shown, std::vector<std::string>{"Failed to save file."});
    EXPECT_EQ(app->document().fileName, dir.file("good.vdm"));
    EXPECT_TRUE(app->document().modified);

    app->document().fileName = blocker + "/named.vdm";
    EXPECT_FALSE(app->saveDocument());
    EXPECT_EQ(user.shown.size(), 2u);
    EXPECT_EQ(user.shown[1], "Failed to save file.");
    EXPECT_EQ(app->document().fileName, blocker + "/named.vdm");
    EXPECT_TRUE(app->document().modified);
    EXPECT_TRUE(app->settings().lastDoc.empty());
}

TEST_F(AppTest, ClosingWithYesAndAFailedOrCancelledSaveIsRefused) {
    auto app = start();
    app->firstShow();
    app->document().append(host("a"));
    app->updateSettings([](ServerCfg& c) { c.mailServer = "smtp.example.lan"; });
    EXPECT_TRUE(app->toggleMonitor());
    user.answers = {true};  // then the Save As dialog is cancelled
    EXPECT_FALSE(app->shutdown());
    EXPECT_EQ(user.asked, std::vector<std::string>{"Do you want to save changes?"});
    EXPECT_EQ(app->document().count(), 1u);
    EXPECT_TRUE(app->document().modified);
    EXPECT_TRUE(app->isMonitoring());
    EXPECT_FALSE(std::filesystem::exists(cfgPath));

    // A second close where the save works goes through and saves the settings.
    user.answers = {true};
    user.savePaths = {dir.file("kept.vdm")};
    EXPECT_TRUE(app->shutdown());
    EXPECT_FALSE(app->isMonitoring());
    EXPECT_TRUE(app->flags().threadDone);
    ServerDoc kept;
    ASSERT_TRUE(kept.load(dir.file("kept.vdm")));
    EXPECT_EQ(kept.count(), 1u);
    ServerCfg saved;
    ASSERT_TRUE(saved.load(cfgPath));
    EXPECT_EQ(saved.mailServer, "smtp.example.lan");
}

TEST_F(AppTest, ClosingWhileAProbeWaitsEndsTheThreadBeforeReturning) {
    auto app = start();
    app->document().append(host("slow"));
    app->document().modified = false;
    std::atomic<bool> probing{false};
    // The probe waits until it is cancelled, as a connect to a silent host does.
    probes->duringProbe = [&] {
        probing = true;
        while (probes->cancels.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    };
    EXPECT_TRUE(app->toggleMonitor());
    while (!probing) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    user.answers = {false};  // the check made the document modified
    EXPECT_TRUE(app->shutdown());
    EXPECT_TRUE(app->flags().threadDone);
    EXPECT_FALSE(app->flags().running);
    EXPECT_GE(probes->cancels.load(), 1);
    EXPECT_TRUE(std::filesystem::exists(cfgPath));
}

TEST_F(AppTest, TheCloseEndsEveryRealCheckRunningBesideOthers) {
    std::filesystem::create_directories(dir.file("cfg"));
    writeFileBytes(dir.file("cfg/settings.toml"), "[monitor]\nchecks_at_once = 4\n");
    ServerCfg cfg;
    cfg.connectTimeout = 60000;
    writeConfig(cfg);
    LoopbackServer live(LoopbackServer::greeting("220 ready\r\n"));
    FullBacklogListener silent;
    Application app(Application::Ui{view, user, user, user, user}, cfgPath, makeSystemComponents);
    for (int i = 0; i < 12; ++i) {
        ServerItem it = host("h" + std::to_string(i));
        it.tcpType = TcpConnectReceive;
        it.recvText = "220";
        it.tcpPort = i < 6 ? live.port() : silent.port();
        app.document().append(it);
    }
    EXPECT_TRUE(app.toggleMonitor());
    // The live hosts are applied; four checks of silent ones wait.
    auto settled = [&] {
        return journal.matching("view checking").size() == 10 && journal.matching("view counts").size() == 6;
    };
    for (int i = 0; i < 5000 && !settled(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(settled());
    user.answers = {false};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_TRUE(app.shutdown());
    // Far below the connect time-out: every waiting connect was cancelled.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(app.flags().threadDone);
    EXPECT_EQ(journal.matching("view counts").size(), 6u);
}

TEST(SystemComponents, AProbeSetBesideOthersLeavesTheMailClientsFlagAlone) {
    LiveConfig cfg;
    MonitorFlags flags;
    Journal journal;
    RecordingView view(journal);
    FakeMessages messages(journal);
    AppComponents parts = makeSystemComponents(ComponentContext{cfg, flags, view, messages});
    RefusingPort refusing;
    flags.connectState = 7;
    EXPECT_FALSE(parts.makeProbes()->checkTcpConnect("127.0.0.1", refusing.port()));
    EXPECT_EQ(flags.connectState, 7);
}

TEST(SystemComponents, TheMostChecksAtOnceFitASessionsUsualDescriptorLimit) {
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_max < 4096) {
        GTEST_SKIP() << "the hard limit on descriptors is below 4,096";
    }
    limit.rlim_cur = 1024;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    LiveConfig cfg;
    MonitorFlags flags;
    Journal journal;
    RecordingView view(journal);
    FakeMessages messages(journal);
    AppComponents parts = makeSystemComponents(ComponentContext{cfg, flags, view, messages});
    ProbePool pool(parts.makeProbes);
    EXPECT_EQ(pool.reserve(MonitorSettings::kMostChecksAtOnce), 256u);
}

TEST_F(AppTest, ClosingDuringADownCommandThatNeverEndsEndsItAndSavesTheSettings) {
    auto app = start("", true);
    const std::string pidFile = dir.file("pid");
    ServerItem hung = host("hung");
    hung.events.downCmd = true;
    hung.events.downCmdLine = "echo $$ > '" + pidFile + "'; sleep 1000";
    hung.notify.sendMails = false;
    app->document().append(hung);
    app->document().modified = false;
    probes->tcpFallback = false;  // the first check fails, so the host goes down at once
    EXPECT_TRUE(app->toggleMonitor());
    pid_t shell = 0;
    for (int i = 0; i < 1000 && shell == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::ifstream(pidFile) >> shell;
    }
    ASSERT_GT(shell, 0) << "the down command did not start";

    user.answers = {false};
    const auto closeAsked = std::chrono::steady_clock::now();
    auto closing = std::async(std::launch::async, [&] { return app->shutdown(); });
    if (closing.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        ::kill(shell, SIGKILL);  // lets a close that waits for the command end the test
    }
    EXPECT_TRUE(closing.get());
    // The wait for the thread takes no time on the test's clock: all of this is the cancel.
    EXPECT_LT(std::chrono::steady_clock::now() - closeAsked, std::chrono::seconds(3));
    EXPECT_TRUE(app->flags().threadDone);
    EXPECT_TRUE(std::filesystem::exists(cfgPath));
    EXPECT_EQ(::kill(shell, 0), -1);  // ended and reaped
}

TEST_F(AppTest, AHistoryWhoseLastWriteFailsAtTheCloseSaysSoWhileItsViewsAreStillThere) {
    const std::string store = dir.file("h.sqlite");
    std::filesystem::create_directories(dir.file("cfg"));
    std::ofstream(dir.file("cfg/settings.toml")) << "[history]\npath = \"" << store << "\"\n";
    auto app = start();
    app->firstShow();
    app->document().append(host("web"));
    app->document().modified = false;
    EXPECT_TRUE(app->toggleMonitor());
    while (journal.matching("view counts 0").empty()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // Another program breaks the store just before the close: the writer's last batch fails.
    Database(store, false, kLockWaitMs).exec("DROP TABLE spans");
    app.reset();
    EXPECT_FALSE(journal.matching("status History paused: no such table: spans").empty());
}

TEST_F(AppTest, StartStopAndCheckNowDriveTheFlags) {
    auto app = start();
    EXPECT_FALSE(app->isMonitoring());
    app->checkNow();
    EXPECT_TRUE(app->flags().checkNow);
    EXPECT_TRUE(app->toggleMonitor());
    EXPECT_TRUE(app->isMonitoring());
    EXPECT_FALSE(app->toggleMonitor());
    EXPECT_FALSE(app->isMonitoring());
}

TEST_F(AppTest, AddRefreshesAfterOkAndCancel) {
    auto app = start();
    app->addHost();
    EXPECT_EQ(app->document().count(), 0u);
    EXPECT_FALSE(app->document().modified);
    EXPECT_EQ(refreshes(), 1u);
    EXPECT_EQ(*user.seen, ServerItem{});  // the dialog starts from a fresh record

    user.editAnswer = host("new");
    user.editExtras = {{"http.method", "HEAD"}};
    app->addHost();
    ASSERT_EQ(app->document().count(), 1u);
    EXPECT_EQ(app->document().at(0)->name, "new");
    EXPECT_EQ(app->document().extrasAt(0), user.editExtras);
    EXPECT_EQ(refreshes(), 2u);
}

TEST_F(AppTest, EditRefreshRulesDependOnTheSourceGrid) {
    auto app = start();
    ServerItem down = host("down");
    down.failuresAllowed = 1;
    down.consecutiveFailures = 3;
    down.badCount = 3;
    app->document().append(down, {{"tls.mode", "tls"}});

    app->editHost(std::nullopt, GridSource::HostGrid);
    EXPECT_EQ(user.edits, 0);

    app->editHost(0, GridSource::ResultGrid);  // cancelled
    EXPECT_EQ(refreshes(), 0u);
    EXPECT_EQ(user.seen->consecutiveFailures, 3);  // the run-time fields pass through
    app->editHost(0, GridSource::HostGrid);        // cancelled
    EXPECT_EQ(refreshes(), 1u);

    ServerItem renamed = *user.seen;
    renamed.name = "renamed";
    renamed.consecutiveFailures = 0;  // the dialog never changes these
    user.editAnswer = renamed;
    user.editExtras = {{"tls.mode", "starttls-smtp"}};
    app->editHost(0, GridSource::ResultGrid);
    EXPECT_EQ(refreshes(), 2u);
    EXPECT_EQ(user.seenExtras, (HostExtras{{"tls.mode", "tls"}}));
    EXPECT_EQ(app->document().extrasAt(0), user.editExtras);
    EXPECT_EQ(app->document().at(0)->name, "renamed");
    EXPECT_TRUE(app->document().at(0)->isDown());
}

TEST_F(AppTest, RemoveAsksFirst) {
    auto app = start();
    app->document().append(host("a"));
    app->document().append(host("b"));
    app->removeHost(std::nullopt);
    EXPECT_TRUE(user.asked.empty());
    user.answers = {false, true};
    app->removeHost(0);
    EXPECT_EQ(app->document().count(), 2u);
    EXPECT_EQ(refreshes(), 0u);
    app->removeHost(0);
    EXPECT_EQ(user.asked.back(), "Are you sure you want to remove this item?");
    ASSERT_EQ(app->document().count(), 1u);
    EXPECT_EQ(app->document().at(0)->name, "b");
    EXPECT_EQ(refreshes(), 1u);
}

TEST_F(AppTest, TheProgramArgumentOpensLikeOpen) {
    const std::string doc = writeDocument("arg.vdm", {host("x")});
    auto app = start();
    app->firstShow();
    EXPECT_TRUE(app->openPath(doc));
    EXPECT_EQ(app->document().count(), 1u);
    EXPECT_EQ(app->settings().lastDoc, doc);
    EXPECT_FALSE(app->openPath(dir.file("gone.vdm")));
    EXPECT_EQ(user.shown.back(), "Failed to open file:\r\nFailed to open file for reading.");
}

TEST_F(AppTest, ADocumentWithDamagedExtendedSettingsSaysSoAndAsksBeforeSavingOverThem) {
    ServerDoc d;
    d.append(host("x"), {{"parents", "y"}});
    d.fileName = dir.file("damaged.vdm");
    ASSERT_TRUE(d.save());
    std::string bytes = readFileBytes(d.fileName);
    bytes.back() ^= 1;
    writeFileBytes(d.fileName, bytes);

    auto app = start();
    app->firstShow();
    ASSERT_TRUE(app->openPath(d.fileName));
    EXPECT_EQ(user.shown.back(), kExtrasDamaged);
    user.answers = {false, true};
    EXPECT_FALSE(app->saveDocument());
    EXPECT_EQ(readFileBytes(d.fileName), bytes);
    EXPECT_TRUE(app->saveDocument());
    EXPECT_EQ(app->document().count(), 1u);
    EXPECT_NE(readFileBytes(d.fileName), bytes);
}

TEST(ExampleDocument, TheShippedExampleIsTheOneTheToolWrites) {
    ServerDoc doc;
    ASSERT_TRUE(doc.load(VARDO_SOURCE_DIR "/examples/localhost.vdm")) << doc.errorText;
    EXPECT_EQ(doc.items(), exampleHosts());
}

}  // namespace
