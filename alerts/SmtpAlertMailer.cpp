#include "alerts/SmtpAlertMailer.h"

#include <unistd.h>

std::string localHostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') {
        return "localhost";
    }
    return buf;
}

SmtpAlertMailer::SmtpAlertMailer(std::atomic<std::int32_t>& connectState) : connectState_(connectState) {
    // A server refuses "HELO " without a name, so the client says who it is.
    smtp_.UserID = localHostName();
    smtp_.OnConnect = [this](TTcpSocket&) { connectState_ = 1; };
    smtp_.OnConnectionFailed = [this](TTcpSocket&) { connectState_ = 2; };
    smtp_.OnFailure = [this](TTcpSocket&) { connectState_ = 1; };
    smtp_.OnSuccess = [this](TTcpSocket&) { connectState_ = 2; };
}

void SmtpAlertMailer::sendAlertMail(const AlertMail& mail) {
    smtp_.Host = mail.server;
    smtp_.MailMessage.Body.clear();
    smtp_.MailMessage.Body.push_back(mail.body);
    smtp_.MailMessage.FromAddress = mail.fromAddress;
    smtp_.MailMessage.FromName = mail.fromName;
    smtp_.MailMessage.Subject = mail.subject;
    smtp_.MailMessage.ToAddress = mail.recipients;
    connectState_ = 0;
    try {
        smtp_.Connect();
        if (connectState_ == 1) {
            connectState_ = 0;
            try {
                smtp_.SendMail();
            } catch (...) {
                // A refused mail still ends its connection: one left open would make every
                // later Connect fail with "Already connected".
                try {
                    smtp_.Disconnect();
                } catch (...) {
                }
                throw;
            }
            smtp_.Disconnect();
        }
    } catch (...) {
        // No retry, no message, no log line: the alert mail is best effort.
    }
}
