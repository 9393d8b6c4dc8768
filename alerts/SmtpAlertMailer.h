// The mail step of the actions on the program's one mail client: connect, send, close.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "alerts/AlertMail.h"
#include "alerts/SmtpClient.h"
#include "platform/Processes.h"

class SmtpAlertMailer final : public AlertMailer {
  public:
    // connectState is the shared outcome flag the client's events set: 1 after a
    // connection (and after a refused mail end), 2 after a failed connection (and after a
    // mail accepted).
    explicit SmtpAlertMailer(std::atomic<std::int32_t>& connectState);

    void sendAlertMail(const AlertMail& mail) override;
    // Sends the mail as sendAlertMail does, but tells how it went: returns the server's
    // answer to the mail, or throws the reason it was not sent.
    std::string deliver(const AlertMail& mail);
    void cancel() override;

    // The client, for its settings (TimeOut, UserID) and for tests.
    TSmtpClient& client() { return smtp_; }

  private:
    // The password of the login: the output of password_command when one is set.
    std::string password(const MailSettings& settings);

    std::atomic<std::int32_t>& connectState_;
    CommandOutputReader passwordCommand_;
    TSmtpClient smtp_;
};

// The name this machine gives itself in HELO; "localhost" when it has none.
std::string localHostName();
