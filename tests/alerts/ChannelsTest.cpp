// The notification channels against recording web services on 127.0.0.1: each kind's request
// as its service documents it, the retries, a service that never answers, the close, and the
// reminders of a host that stays down.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <map>

#include "alerts/ChannelSender.h"
#include "alerts/NotificationChannels.h"
#include "alerts/Templates.h"
#include "support/ActionFakes.h"
#include "support/HttpReceiver.h"
#include "support/LoopbackServer.h"
#include "support/MonitorFakes.h"

namespace {

using namespace std::chrono_literals;

ServerItem webHost() {
    ServerItem it;
    it.name = "web \xe9";  // Windows-1252: goes out as UTF-8
    it.address = "10.0.0.7";
    it.consecutiveFailures = 4;
    it.notify.downMsg = "%s is down";
    return it;
}

ChannelSettings channel(ChannelKind kind, std::string url) {
    ChannelSettings c;
    c.name = "phone";
    c.kind = kind;
    c.url = std::move(url);
    c.token = "t0k:en";
    return c;
}

// A logger that keeps the lines for the test to wait on.
class LineLog : public EventLogger {
  public:
    void logEvent(const std::string& text, std::time_t) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(text);
        changed_.notify_all();
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return lines_.size() >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

struct Fixture {
    Journal journal;
    FakeClock clock{journal};
    LineLog log;
    LiveConfig cfg;
    std::mutex mutex;
    std::vector<std::string> outcomes;

    std::unique_ptr<NotificationChannels> channels(std::vector<ChannelSettings> list, ChannelTiming timing) {
        cfg.updateExtra([&](Settings& s) { s.channels = std::move(list); });
        auto out = std::make_unique<NotificationChannels>(cfg, clock, log, timing);
        out->setOutcomeObserver([this](const std::string& name, bool sent) {
            std::lock_guard lock(mutex);
            outcomes.push_back(name + (sent ? " sent" : " failed"));
        });
        return out;
    }
};

TEST(ChannelRequests, EachKindSendsWhatItsServiceDocuments) {
    struct Case {
        ChannelKind kind;
        std::string base;  // the configured url after the receiver's address
        std::string method;
        std::string target;
        std::map<std::string, std::string> headers;
        std::string body;
    };
    const std::string chat = "Server Down: web \xc3\xa9\\nweb \xc3\xa9 is down";
    const std::vector<Case> cases = {
        {ChannelKind::Ntfy, "/alerts", "POST", "/alerts",
         {{"Title", "=?UTF-8?B?U2VydmVyIERvd246IHdlYiDDqQ==?="},
          {"Priority", "5"},
          {"Tags", "rotating_light"},
          {"Authorization", "Bearer t0k:en"}},
         "web \xc3\xa9 is down"},
        {ChannelKind::Gotify, "/gotify/", "POST", "/gotify/message",
         {{"X-Gotify-Key", "t0k:en"}, {"Content-Type", "application/json"}},
         R"({"title":"Server Down: web é","message":"web é is down","priority":8})"},
        {ChannelKind::Slack, "/hooks/T1", "POST", "/hooks/T1", {{"Content-Type", "application/json"}},
         R"({"text":")" + chat + R"("})"},
        {ChannelKind::Discord, "/api/webhooks/1/x", "POST", "/api/webhooks/1/x", {}, R"({"content":")" + chat + R"("})"},
        {ChannelKind::Telegram, "/tg", "POST", "/tg/bott0k:en/sendMessage", {},
         R"({"chat_id":-1001,"text":")" + chat + R"("})"},
        {ChannelKind::Matrix, "/mx", "PUT", "/mx/_matrix/client/v3/rooms/%21ops%3Aexample.org/send/m.room.message/txn-1",
         {{"Authorization", "Bearer t0k:en"}},
         R"({"msgtype":"m.text","body":")" + chat + R"("})"},
        {ChannelKind::Pushover, "/1", "POST", "/1/messages.json", {{"Content-Type", "application/json"}},
         R"({"token":"t0k:en","user":"u9","title":"Server Down: web é","message":"web é is down","priority":1})"},
        {ChannelKind::Webhook, "/hook", "POST", "/hook", {{"X-Team", "ops"}},
         R"({"event":"down","time":"2023-11-14T22:13:20Z","title":"Server Down: web é","text":"web é is down",)"
         R"("host":{"name":"web é","address":"10.0.0.7","type":"tcp"},"consecutive_failures":4})"},
    };
    HttpReceiver receiver;
    ChannelSender sender;
    for (const Case& c : cases) {
        ChannelSettings ch = channel(c.kind, receiver.url(c.base));
        ch.chatId = "-1001";
        ch.room = "!ops:example.org";
        ch.user = "u9";
        ch.headers = {{"X-Team", "ops"}};
        const std::size_t before = receiver.requests().size();
        const ChannelTry outcome = sender.send(ch, downMessage(webHost(), 1700000000), "txn-1");
        ASSERT_EQ(outcome.result, ChannelTry::Result::Sent) << outcome.reason;
        const HttpReceiver::Request r = receiver.requests().at(before);
        SCOPED_TRACE(c.target);
        EXPECT_EQ(r.method, c.method);
        EXPECT_EQ(r.target, c.target);
        for (const auto& [name, value] : c.headers) {
            EXPECT_EQ(r.header(name), value) << name;
        }
        EXPECT_EQ(r.body, c.body);
    }
}

TEST(ChannelDelivery, RetriesAServerErrorAndCountsOnlyTheFinalOutcome) {
    HttpReceiver receiver({500, 500, 200});
    Fixture f;
    auto channels = f.channels({channel(ChannelKind::Slack, receiver.url("/hook"))}, {5s, 10ms});
    channels->hostDown(webHost(), 1700000000);
    channels->close(10s);
    EXPECT_EQ(receiver.requests().size(), 3U);
    EXPECT_EQ(receiver.requests()[2].body, receiver.requests()[0].body);
    EXPECT_EQ(f.outcomes, std::vector<std::string>{"phone sent"});
    EXPECT_TRUE(f.log.lines().empty());
}

TEST(ChannelDelivery, AServiceThatNeverAnswersTimesOutAndFailsWithOneLogLine) {
    LoopbackServer silent([](PeerConnection& peer) { peer.holdOpen(); });
    Fixture f;
    ChannelSettings ch = channel(ChannelKind::Telegram, "http://127.0.0.1:" + std::to_string(silent.port()));
    ch.chatId = "7";
    auto channels = f.channels({ch}, {200ms, 10ms});
    channels->hostDown(webHost(), 1700000000);
    ASSERT_TRUE(f.log.waitFor(1));
    channels->close(0ms);
    EXPECT_EQ(f.log.lines(), std::vector<std::string>{"Notification to phone failed: no answer in time"});
    EXPECT_EQ(f.outcomes, std::vector<std::string>{"phone failed"});
}

TEST(ChannelDelivery, TheCloseWaitsAtMostItsGraceThenLogsEveryMessageItDrops) {
    LoopbackServer silent([](PeerConnection& peer) { peer.holdOpen(); });
    Fixture f;
    auto channels =
        f.channels({channel(ChannelKind::Discord, "http://127.0.0.1:" + std::to_string(silent.port()))}, {});
    ServerItem other = webHost();
    other.name = "db";
    channels->hostDown(webHost(), 1700000000);
    channels->hostDown(other, 1700000000);
    const auto began = std::chrono::steady_clock::now();
    channels->close();
    EXPECT_LT(std::chrono::steady_clock::now() - began, 4s);
    EXPECT_EQ(f.log.lines(), std::vector<std::string>(2, "Notification to phone dropped: program closing"));
}

TEST(ChannelReminders, DownRemindersAndUpComeInOrderOnEachChannel) {
    HttpReceiver hook;
    HttpReceiver phone;
    Fixture f;
    ChannelSettings a = channel(ChannelKind::Webhook, hook.url("/"));
    ChannelSettings b = channel(ChannelKind::Ntfy, phone.url("/t"));
    a.remindEveryMinutes = b.remindEveryMinutes = 10;
    b.name = "other";
    auto channels = f.channels({a, b}, {5s, 10ms});
    ServerItem host = webHost();
    f.clock.time = 1700000000;
    channels->hostDown(host, f.clock.now());
    for (std::size_t count = 2; count <= 3; ++count) {
        ASSERT_TRUE(hook.waitFor(count - 1) && phone.waitFor(count - 1));
        f.clock.time += 600;
        channels->poke();
        ASSERT_TRUE(hook.waitFor(count) && phone.waitFor(count));
    }
    host.consecutiveFailures = 0;
    channels->hostUp(host, f.clock.now());
    ASSERT_TRUE(hook.waitFor(4) && phone.waitFor(4));
    channels->close(5s);

    std::vector<std::string> events;
    for (const HttpReceiver::Request& r : hook.requests()) {
        events.push_back(r.body.substr(0, r.body.find(',')));
    }
    EXPECT_EQ(events, (std::vector<std::string>{R"({"event":"down")", R"({"event":"reminder")",
                                                R"({"event":"reminder")", R"({"event":"up")"}));
    std::vector<std::string> tags;
    for (const HttpReceiver::Request& r : phone.requests()) {
        tags.push_back(r.header("Tags") + " " + r.header("Priority"));
    }
    EXPECT_EQ(tags, (std::vector<std::string>{"rotating_light 5", "rotating_light 5", "rotating_light 5",
                                              "white_check_mark 3"}));
    EXPECT_EQ(phone.requests()[2].body, "Still down since " + dateText(1700000000) + ": web \xc3\xa9");
}

TEST(ChannelReminders, AHostNoLongerMonitoredGetsNoneUntilItIsAgain) {
    HttpReceiver hook;
    Fixture f;
    ChannelSettings a = channel(ChannelKind::Slack, hook.url("/"));
    a.remindEveryMinutes = 1;
    auto channels = f.channels({a}, {5s, 10ms});
    std::atomic<bool> monitored{false};
    channels->setStillDown([&](const ServerItem& host) { return monitored && host.name == webHost().name; });
    channels->hostDown(webHost(), f.clock.now());
    ASSERT_TRUE(hook.waitFor(1));
    f.clock.time += 60;
    channels->poke();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(hook.requests().size(), 1U);
    monitored = true;
    channels->poke();
    ASSERT_TRUE(hook.waitFor(2));
    channels->close(5s);
    EXPECT_TRUE(hook.requests()[1].body.starts_with(R"({"text":"Still Down: web)")) << hook.requests()[1].body;
}

}  // namespace
