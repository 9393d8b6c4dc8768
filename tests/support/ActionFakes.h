// Recording fakes of every effect the up and down actions use. Each call goes to one
// Journal (support/MonitorFakes.h), so a test sees the order of all steps across them.
#pragma once

#include <ctime>
#include <memory>
#include <stdexcept>
#include <string>

#include "alerts/Actions.h"
#include "support/MonitorFakes.h"

class JournalLogger : public EventLogger {
  public:
    explicit JournalLogger(Journal& j) : j_(j) {}
    void logEvent(const std::string& text, std::time_t time) override {
        j_.add("log " + text + " @" + std::to_string(time));
    }

  private:
    Journal& j_;
};

class FakeSounds : public SoundPlayer {
  public:
    explicit FakeSounds(Journal& j) : j_(j) {}
    void play(const std::string& file) override {
        j_.add("sound " + file);
        if (fail) {
            throw std::runtime_error("no sound card");
        }
    }
    bool fail = false;

  private:
    Journal& j_;
};

class FakeProcesses : public ProcessRunner {
  public:
    explicit FakeProcesses(Journal& j) : j_(j) {}
    void runShellCommand(const std::string& line) override {
        j_.add("shell " + line);
        if (fail) {
            throw std::runtime_error("cannot run");
        }
    }
    bool launchCommand(const std::string& line) override {
        j_.add("launch " + line);
        return !fail;
    }
    bool fail = false;

  private:
    Journal& j_;
};

class FakeServices : public ServiceStarter {
  public:
    explicit FakeServices(Journal& j) : j_(j) {}
    ServiceHandle openServiceManager(const std::string& machine) override {
        j_.add("service open " + machine);
        return opens ? std::make_unique<ServiceManagerHandle>() : nullptr;
    }
    bool startServiceByName(ServiceManagerHandle&, const std::string& service) override {
        j_.add("service start " + service);
        return starts;
    }
    void closeServiceManager(ServiceHandle) override { j_.add("service close"); }
    bool opens = true;
    bool starts = true;

  private:
    Journal& j_;
};

class FakeReboot : public RebootRequester {
  public:
    explicit FakeReboot(Journal& j) : j_(j) {}
    RebootResult requestReboot(const std::string& machine, const std::string& message,
                               std::chrono::seconds delay) override {
        j_.add("reboot " + machine + " in " + std::to_string(delay.count()) + "s: " + message);
        return result;
    }
    RebootResult result = RebootResult::Requested;

  private:
    Journal& j_;
};

class FakeMessages : public MessageSink {
  public:
    explicit FakeMessages(Journal& j) : j_(j) {}
    void showMessageAsync(const std::string& text) override { j_.add("box " + text); }
    void showAlert(AlertKind kind, const std::string& hostName, const std::string& text) override {
        j_.add(std::string("box ") + (kind == AlertKind::Up ? "up " : "down ") + hostName + ": " + text);
    }

  private:
    Journal& j_;
};

class FakeNetMessages : public NetMessenger {
  public:
    explicit FakeNetMessages(Journal& j) : j_(j) {}
    bool sendNetMessage(const std::string& target, const std::string& message) override {
        j_.add("net [" + target + "] " + message);
        return !fail;
    }
    bool fail = false;

  private:
    Journal& j_;
};

class FakeMailer : public AlertMailer {
  public:
    explicit FakeMailer(Journal& j) : j_(j) {}
    void sendAlertMail(const AlertMail& m) override {
        std::string to;
        for (const std::string& r : m.recipients) {
            to += "[" + r + "]";
        }
        j_.add("mail " + m.server + " from " + m.fromName + "<" + m.fromAddress + "> to " + to + " subject " +
               m.subject + " body " + m.body);
    }

  private:
    Journal& j_;
};

// One full set of fakes around one journal, with the ActionEffects that bind them.
struct FakeEffects {
    Journal journal;
    LiveConfig cfg;
    JournalLogger log{journal};
    RecordingView status{journal};
    FakeClock clock{journal};
    FakeSounds sounds{journal};
    FakeProcesses processes{journal};
    FakeServices services{journal};
    FakeReboot reboot{journal};
    FakeMessages messages{journal};
    FakeNetMessages net{journal};
    FakeMailer mail{journal};
    ActionEffects fx{cfg, log, status, clock, sounds, processes, services, reboot, messages, net, mail};
};
