#include "alerts/SmtpAlertMailer.h"

#include <fcntl.h>
#include <openssl/crypto.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

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

namespace {

// A line end and blanks at the end are how commands and editors finish their output, not
// part of the password.
void dropLineEnd(std::string& password) {
    while (!password.empty() && (password.back() == '\n' || password.back() == '\r' ||
                                 password.back() == ' ' || password.back() == '\t')) {
        password.pop_back();
    }
}

// The first line of a file, without its line end; empty when the file holds nothing else.
std::string firstLineOf(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw ESmtpError("The password file " + path + " cannot be read: " + std::strerror(errno));
    }
    std::string bytes(kMaxPasswordBytes, '\0');
    PasswordWipe wipe(bytes);
    std::size_t got = 0;
    ssize_t n = 0;
    while (got < bytes.size() &&
           ((n = ::read(fd, bytes.data() + got, bytes.size() - got)) > 0 || (n < 0 && errno == EINTR))) {
        got += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const int err = errno;
    ::close(fd);
    if (n < 0) {
        throw ESmtpError("The password file " + path + " cannot be read: " + std::strerror(err));
    }
    std::string line = bytes.substr(0, std::min(got, bytes.find('\n')));
    dropLineEnd(line);
    return line;
}

// The service's credential "mail-password", when the service manager handed it one. The
// unit's fallback for no password file is a credential with only a line end: none.
std::string credentialPassword() {
    const char* dir = std::getenv("CREDENTIALS_DIRECTORY");
    if (dir == nullptr || *dir == '\0') {
        return {};
    }
    const std::string path = std::string(dir) + "/mail-password";
    return ::access(path.c_str(), F_OK) == 0 ? firstLineOf(path) : std::string();
}

}  // namespace

std::string SmtpAlertMailer::password(const MailSettings& settings) {
    if (std::string credential = credentialPassword(); !credential.empty()) {
        return credential;
    }
    if (!settings.passwordFile.empty()) {
        std::string password = firstLineOf(settings.passwordFile);
        if (password.empty()) {
            throw ESmtpError("The password file " + settings.passwordFile + " holds no password");
        }
        return password;
    }
    if (settings.passwordCommand.empty()) {
        return settings.password;
    }
    const auto limit = std::chrono::milliseconds(smtp_.TimeOut > 0 ? smtp_.TimeOut : kSmtpTimeLimitMs);
    CommandOutput out = passwordCommand_.run(settings.passwordCommand, limit, kMaxPasswordBytes);
    PasswordWipe wipe(out.output);
    if (!out.ok) {
        throw ESmtpError("The password command failed: " + out.error);
    }
    std::string password = out.output;
    dropLineEnd(password);
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
