// The mail step of the actions: one mail per transition, to every recipient at once.
#pragma once

#include <string>
#include <vector>

#include "core/Settings.h"

struct AlertMail {
    std::string server;
    std::string fromAddress;
    std::string fromName;
    std::string subject;
    std::string body;
    std::vector<std::string> recipients;
    // How the server is reached: port, security and login.
    MailSettings settings;
};

class AlertMailer {
  public:
    virtual ~AlertMailer() = default;
    // Sends the mail; every failure ends the attempt silently (no retry, no log line).
    virtual void sendAlertMail(const AlertMail& mail) = 0;
    // Ends a running mail dialogue at once; safe from any thread.
    virtual void cancel() {}
};
