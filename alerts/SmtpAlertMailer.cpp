#include "alerts/SmtpAlertMailer.h"

#include <openssl/crypto.h>
#include <unistd.h>

#include <chrono>

namespace {

// More than any password; a command that writes more is not giving one.
constexpr std::size_t kMaxPasswordBytes = 4096;

// Overwrites the client's password once a mail is done with it.
class PasswordWipe {
  public:
    explicit PasswordWipe(std::string& password) : password_(password) {}
    ~PasswordWipe() {
        OPENSSL_cleanse(password_.data(), password_.size());
        password_.clear();
    }
    PasswordWipe(const PasswordWipe&) = delete;
    PasswordWipe& operator=(const PasswordWipe&) = delete;

  private:
    std::string& password_;
};

}  // namespace

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

void SmtpAlertMailer::cancel() {
    passwordCommand_.cancel();
    smtp_.Cancel();
}

std::string SmtpAlertMailer::password(const MailSettings& settings) {
    if (settings.passwordCommand.empty()) {
        return settings.password;
    }
    const auto limit = std::chrono::milliseconds(smtp_.TimeOut > 0 ? smtp_.TimeOut : kSmtpTimeLimitMs);
    CommandOutput out = passwordCommand_.run(settings.passwordCommand, limit, kMaxPasswordBytes);
    PasswordWipe wipe(out.output);
    if (!out.ok) {
        throw ESmtpError("The password command failed: " + out.error);
    }
    // A line end and blanks at the end are how commands finish their output, not part of
    // the password.
    std::string password = out.output;
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r' ||
                                 password.back() == ' ' || password.back() == '\t')) {
        password.pop_back();
    }
    if (password.empty()) {
        throw ESmtpError("The password command gave no password");
    }
    return password;
}

std::string SmtpAlertMailer::deliver(const AlertMail& mail) {
    smtp_.Host = mail.server;
    smtp_.Port = mail.settings.port;
    smtp_.Security = mail.settings.security;
    smtp_.User = mail.settings.user;
    smtp_.VerifyCertificate = mail.settings.verifyCertificate;
    smtp_.CaFile = mail.settings.caFile;
    smtp_.MailMessage.Body.clear();
    smtp_.MailMessage.Body.push_back(mail.body);
    smtp_.MailMessage.FromAddress = mail.fromAddress;
    smtp_.MailMessage.FromName = mail.fromName;
    smtp_.MailMessage.Subject = mail.subject;
    smtp_.MailMessage.ToAddress = mail.recipients;
    PasswordWipe wipe(smtp_.Password);
    // Only a login needs the password; without TLS there is none.
    if (mail.settings.security != MailSecurity::None && !mail.settings.user.empty()) {
        smtp_.Password = password(mail.settings);
    }
    connectState_ = 0;
    smtp_.Connect();
    std::string answer;
    if (connectState_ == 1) {
        connectState_ = 0;
        try {
            smtp_.SendMail();
            answer = smtp_.LastReply();
        } catch (...) {
            // A refused mail still ends its connection: one left open would make every
            // later Connect fail with "Already connected".
            try {
                smtp_.Disconnect();
            } catch (...) {
            }
            throw;
        }
        try {
            smtp_.Disconnect();
        } catch (...) {
            // The mail has gone; a refused goodbye changes nothing about that.
        }
    }
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) {
        answer.pop_back();
    }
    return answer;
}

void SmtpAlertMailer::sendAlertMail(const AlertMail& mail) {
    try {
        deliver(mail);
    } catch (...) {
        // No retry, no message, no log line: the alert mail is best effort.
    }
}
