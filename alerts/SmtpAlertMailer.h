// The mail step of the actions on the program's one mail client: connect, send, close.
#pragma once

#include <atomic>
#include <cstdint>

#include "alerts/AlertMail.h"
#include "alerts/SmtpClient.h"

class SmtpAlertMailer final : public AlertMailer {
  public:
    // connectState is the shared outcome flag the client's events set: 1 after a
    // connection (and after a refused mail end), 2 after a failed connection (and after a
    // mail accepted).
    explicit SmtpAlertMailer(std::atomic<std::int32_t>& connectState);

    void sendAlertMail(const AlertMail& mail) override;
    void cancel() override { smtp_.Cancel(); }

    // The client, for its settings (TimeOut, UserID) and for tests.
    TSmtpClient& client() { return smtp_; }

  private:
    std::atomic<std::int32_t>& connectState_;
    TSmtpClient smtp_;
};

// The name this machine gives itself in HELO; "localhost" when it has none.
std::string localHostName();
