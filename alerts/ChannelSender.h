// One try of one message to one channel: the secret read, the request sent, the answer
// judged. A time-out, a refused connection, 408, 429 and 5xx may pass if tried again; every
// other answer is final.
#pragma once

#include <atomic>
#include <chrono>
#include <string>

#include "alerts/ChannelMessage.h"
#include "core/Settings.h"
#include "platform/Processes.h"
#include "probes/HttpRequest.h"

struct ChannelTry {
    enum class Result { Sent, Failed, WorthAnotherTry, Cancelled };
    Result result = Result::Failed;
    // Why it was not sent ("HTTP 401 Unauthorized"), never holding the secret.
    std::string reason;
};

class ChannelSender {
  public:
    explicit ChannelSender(std::chrono::milliseconds timeout = std::chrono::seconds(10)) : timeout_(timeout) {}

    ChannelTry send(const ChannelSettings& channel, const ChannelMessage& message, const std::string& txn);
    // Ends a request or a token command under way, and every later one; safe from any thread.
    void cancel();

  private:
    std::chrono::milliseconds timeout_;
    HttpClient client_;
    CommandOutputReader tokenCommand_;
    std::atomic<bool> cancelled_{false};
};

// What the test of a channel says: whether it was delivered (one try), and how it went.
struct ChannelTestResult {
    bool sent = false;
    std::string text;
};

ChannelTestResult sendChannelTest(const ChannelSettings& channel, std::time_t now);
