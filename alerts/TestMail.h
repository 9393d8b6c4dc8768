// The test mail: one mail sent the way the alert mails go, so that an admin sees the mail
// settings work (or why they do not) before a host goes down.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "alerts/AlertMail.h"
#include "alerts/SmtpAlertMailer.h"
#include "core/Settings.h"
#include "core/Vardo.h"

inline constexpr const char* kTestMailSubject = "Kestrune Vardomon test mail";

// The alert mail's server, sender and headers, the subject above and a one-line body naming
// this machine and the date text of now, to the recipients (separated by commas).
AlertMail testMail(const ServerCfg& cfg, const MailSettings& settings, const std::string& recipients,
                   std::time_t now);

struct TestMailResult {
    // Sent to every recipient.
    bool sent = false;
    // The mail server's answer to the mail when it was sent, else why it was not: the
    // recipients the server refused are named.
    std::string text;
};

class TestMailSender {
  public:
    TestMailSender();

    // Sends the mail and waits for the outcome.
    TestMailResult send(const AlertMail& mail);
    // Ends a send running on another thread and returns once it has. Safe from any thread.
    void cancel();

  private:
    std::atomic<std::int32_t> connectState_{0};
    std::atomic<bool> sending_{false};
    SmtpAlertMailer mailer_;
    // The recipients the server refused in the send running, each with its reply.
    std::vector<std::string> refused_;
};

// One test mail with the given settings: what a program without a window calls.
TestMailResult sendTestMail(const ServerCfg& cfg, const MailSettings& settings, const std::string& recipients,
                            std::time_t now);
