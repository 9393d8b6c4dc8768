#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alerts/Actions.h"
#include "support/ActionFakes.h"
#include "support/TempDir.h"

namespace {

using Lines = std::vector<std::string>;

constexpr std::time_t kCheck = 1000;        // when the host's check began
constexpr std::time_t kLater = 1700000000;  // the fake clock's "now"

ServerItem everythingOn() {
    ServerItem it;
    it.name = "Backup";
    it.address = "10.9.8.7";
    it.tcpPort = 25;
    it.events.upSound = it.events.downSound = true;
    it.events.upSoundFile = "up.wav";
    it.events.downSoundFile = "down.wav";
    it.events.upCmd = it.events.downCmd = true;
    it.events.upCmdLine = "up-cmd %s";
    it.events.downCmdLine = "down-cmd %a";
    it.events.startService = true;
    it.events.startServiceName = "Spooler";
    it.events.shutdown = true;
    it.events.shutdownMachine = "%a";
    it.notify.notifyUp = it.notify.notifyDown = true;
    it.notify.msgBox = true;
    it.notify.netSend = true;
    it.notify.netSendList = "alpha,beta";
    it.notify.sendMails = true;
    it.notify.mailList = "ops@x, %a";
    it.notify.upMsg = "%s is up";
    it.notify.downMsg = "%s is down";
    return it;
}

class Actions : public ::testing::Test {
  protected:
    Actions() {
        f.clock.time = kLater;
        f.cfg.update([](ServerCfg& c) {
            c.mailServer = "mail.example";
            c.fromAddress = "vardo@example";
            c.fromName = "Vardo";
            c.mailSubject = "Alert for %s";
        });
    }
    Lines journal() const { return f.journal.entries(); }
    FakeEffects f;
};

TEST_F(Actions, NothingSwitchedOnDoesNothing) {
    ServerItem it;
    it.notify.sendMails = false;
    it.notify.notifyUp = true;
    runUpActions(it, kCheck, f.fx);
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), Lines{});
}

TEST_F(Actions, DownRunsEveryStepInOrder) {
    runDownActions(everythingOn(), kCheck, f.fx);
    EXPECT_EQ(journal(),
              (Lines{
                  "sound down.wav",
                  "shell down-cmd 10.9.8.7",
                  "service open 10.9.8.7",
                  "service start Spooler",
                  "log Server \"Spooler\" started on Backup @1000",
                  "service close",
                  "status Shutting down remote machine: 10.9.8.7...",
                  "reboot 10.9.8.7 in 15s: Kestrune Vardomon is rebooting this system due to failure.",
                  "log Shutdown remoate machine: 10.9.8.7 @1700000000",
                  "box down Backup: Backup is down",
                  "status Sending Server Down Message...",
                  "net [alpha] Backup is down",
                  "net [beta] Backup is down",
                  "status Sending Server Down Email...",
                  "mail mail.example from Vardo<vardo@example> to [ops@x][ %a] subject Alert for Backup "
                  "body Backup is down",
              }));
}

TEST_F(Actions, UpRunsItsStepsInOrderAndNeverStartsServicesOrReboots) {
    runUpActions(everythingOn(), kCheck, f.fx);
    EXPECT_EQ(journal(),
              (Lines{
                  "sound up.wav",
                  "shell up-cmd Backup",
                  "box up Backup: Backup is up",
                  "status Sending Server Up Message...",
                  "net [alpha] Backup is up",
                  "net [beta] Backup is up",
                  "status Sending Server Up Email...",
                  "mail mail.example from Vardo<vardo@example> to [ops@x][ %a] subject Alert for Backup "
                  "body Backup is up",
              }));
}

TEST_F(Actions, NotifyFlagsGateOnlyTheNotificationsOfTheirTransition) {
    ServerItem it = everythingOn();
    it.notify.notifyUp = false;
    runUpActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), (Lines{"sound up.wav", "shell up-cmd Backup"}));

    f.journal.clear();
    runDownActions(it, kCheck, f.fx);  // notifyDown still on
    EXPECT_EQ(f.journal.matching("mail").size(), 1u);

    f.journal.clear();
    it.notify.notifyUp = true;
    it.notify.notifyDown = false;
    runDownActions(it, kCheck, f.fx);
    const Lines j = journal();
    ASSERT_FALSE(j.empty());
    EXPECT_EQ(j.back(), "log Shutdown remoate machine: 10.9.8.7 @1700000000");
    EXPECT_TRUE(f.journal.matching("box").empty());
    EXPECT_TRUE(f.journal.matching("net").empty());
    EXPECT_TRUE(f.journal.matching("mail").empty());
}

TEST_F(Actions, EachStepOnlyWhenItsFlagIsSet) {
    ServerItem it = everythingOn();
    it.events.downSound = false;
    it.events.downCmd = false;
    it.events.startService = false;
    it.events.shutdown = false;
    it.notify.msgBox = false;
    it.notify.netSend = false;
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(),
              (Lines{"status Sending Server Down Email...",
                     "mail mail.example from Vardo<vardo@example> to [ops@x][ %a] subject Alert for "
                     "Backup body Backup is down"}));
}

TEST_F(Actions, ServiceStartFailuresAreLoggedWithTheCheckTime) {
    ServerItem it;
    it.name = "Backup";
    it.address = "srv";
    it.notify.notifyDown = false;
    it.events.startService = true;
    it.events.startServiceName = "Spooler";

    f.services.opens = false;
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), (Lines{"service open srv", "log Failed to start service for item: Backup @1000"}));

    f.journal.clear();
    f.services.opens = true;
    f.services.starts = false;
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), (Lines{"service open srv", "service start Spooler",
                                "log Failed to start service for item: Backup @1000", "service close"}));

    f.journal.clear();
    it.events.startServiceName.clear();
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), Lines{});
}

TEST_F(Actions, RebootOutcomesAreLoggedWithTheTimeOfWriting) {
    ServerItem it;
    it.name = "Backup";
    it.address = "box7";
    it.notify.notifyDown = false;
    it.events.shutdown = true;
    it.events.shutdownMachine = "%a-ilo";
    const std::pair<RebootResult, std::string> cases[] = {
        {RebootResult::Refused, "log Failed to shutdown the remote machine: box7-ilo @1700000000"},
        {RebootResult::NoFacility,
         "log Remote System Shutdown is not supported by this operating system. (DLL Not Found) @1700000000"},
        {RebootResult::NoFunction,
         "log Remote System Shutdown is not supported by this operating system. (Function Not Found) "
         "@1700000000"},
    };
    for (const auto& [result, line] : cases) {
        f.journal.clear();
        f.reboot.result = result;
        runDownActions(it, kCheck, f.fx);
        const Lines j = journal();
        ASSERT_EQ(j.size(), 3u);
        EXPECT_EQ(j[0], "status Shutting down remote machine: box7-ilo...");
        EXPECT_EQ(j[2], line);
    }

    // An empty machine name does nothing, not even the status text.
    f.journal.clear();
    it.events.shutdownMachine.clear();
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), Lines{});

    // One that expands to nothing would name this machine: no reboot, and the log says why.
    it.events.shutdownMachine = "%a";
    it.address.clear();
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(),
              Lines{"log No machine to shut down for item: Backup (\"%a\" expands to nothing) @1700000000"});
}

TEST_F(Actions, NetMessageTargetsAreExpandedSplitAndTrimmedEmptyItemsIncluded) {
    ServerItem it;
    it.name = "Backup";
    it.address = "pc9";
    it.notify.sendMails = false;
    it.notify.netSend = true;
    it.notify.downMsg = "down";

    it.notify.netSendList = " %a ,, x";
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), (Lines{"status Sending Server Down Message...", "net [pc9] down", "net [] down",
                                "net [x] down"}));

    f.journal.clear();
    it.address.clear();
    it.notify.netSendList = "%a";
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(journal(), Lines{"status Sending Server Down Message..."});
}

TEST_F(Actions, AFailingStepDoesNotStopTheOthers) {
    f.sounds.fail = true;
    f.processes.fail = true;
    f.net.fail = true;
    f.services.opens = false;
    f.reboot.result = RebootResult::Refused;
    runDownActions(everythingOn(), kCheck, f.fx);
    const Lines j = journal();
    ASSERT_FALSE(j.empty());
    EXPECT_EQ(j.front(), "sound down.wav");
    EXPECT_EQ(f.journal.matching("shell").size(), 1u);
    EXPECT_EQ(f.journal.matching("net").size(), 2u);
    EXPECT_EQ(f.journal.matching("box").size(), 1u);
    EXPECT_EQ(f.journal.matching("mail").size(), 1u);
    EXPECT_EQ(f.journal.matching("log").size(), 2u);
}

TEST_F(Actions, MailTakesTheSettingsAtTheMomentOfSending) {
    ServerItem it;
    it.name = "Web";
    it.notify.mailList = "a,b,c";
    it.notify.downMsg = "line1\r\nline2";
    runDownActions(it, kCheck, f.fx);
    f.cfg.update([](ServerCfg& c) {
        c.mailServer = "other";
        c.mailSubject = "";
    });
    runDownActions(it, kCheck, f.fx);
    EXPECT_EQ(f.journal.matching("mail"),
              (Lines{"mail mail.example from Vardo<vardo@example> to [a][b][c] subject Alert for Web body "
                     "line1\r\nline2",
                     "mail other from Vardo<vardo@example> to [a][b][c] subject  body line1\r\nline2"}));
}

}  // namespace

namespace {

// A message box that notes whether the command's file was already complete when it opened.
class CheckingMessages : public MessageSink {
  public:
    explicit CheckingMessages(std::string path) : path_(std::move(path)) {}
    void showMessageAsync(const std::string& text) override {
        seen.push_back(text + " | " + readFileBytes(path_));
    }
    std::vector<std::string> seen;

  private:
    std::string path_;
};

TEST_F(Actions, ARealCommandHasEndedBeforeTheNextStep) {
    TempDir dir;
    const std::string out = dir.file("out");
    PosixProcessRunner processes;
    CheckingMessages messages(out);
    ActionEffects fx{f.cfg,      f.log,    f.status, f.clock, f.sounds, processes,
                     f.services, f.reboot, messages, f.net,   f.mail};
    ServerItem it;
    it.name = "Backup";
    it.events.downCmd = true;
    it.events.downCmdLine = "sleep 0.3; echo %s finished > '" + out + "'";
    it.notify.msgBox = true;
    it.notify.sendMails = false;
    it.notify.downMsg = "box";
    runDownActions(it, kCheck, fx);
    EXPECT_EQ(messages.seen, Lines{"box | Backup finished\n"});
}

}  // namespace
