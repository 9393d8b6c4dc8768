// TSmtpClient: the mail client of the alert mails. It speaks the SMTP dialogue of RFC 821
// over a TTcpSocket: Connect (greeting and HELO), SendMail (one plain-text mail to every
// recipient), Disconnect (QUIT). Every call runs on the calling thread and ends with an
// exception when the server refuses; the events fire on that thread before the call ends.
//
// With Security set, the dialogue runs over TLS (after STARTTLS, or from the first byte),
// says EHLO, and logs in with User and Password (AUTH PLAIN or LOGIN). A password is never
// sent without TLS, and no text the client makes holds it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "alerts/MailMessage.h"
#include "alerts/SmtpCapabilities.h"
#include "core/Settings.h"
#include "probes/TcpSocket.h"

class TlsChannel;

// A stalled mail server must not hold the monitor for ever: no connect, send or reply wait
// of the mail dialogue lasts longer than this (milliseconds); the lines of a reply share one
// such limit. TimeOut holds it and may be changed.
inline constexpr std::int32_t kSmtpTimeLimitMs = 60000;

// A refusal of the mail server (the reply line is the message), "Authentication failed" or
// "Incomplete Header".
class ESmtpError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

class TSmtpClient : public TTcpSocket {
  public:
    using TNotifyEvent = TTcpSocket::TNotifyEvent;
    // Handled (set by the handler) and the reason: 1 no sender address, 2 no recipient.
    using THeaderInCompleteEvent = std::function<void(bool& handled, int reason)>;
    using TRecipientNotFoundEvent = std::function<void(const std::string& recipient)>;
    using TAuthenticationFailedEvent = std::function<void(bool& handled)>;

    TSmtpClient();
    ~TSmtpClient() override;

    // The argument of "HELO "; "EHLO " takes it when it is a domain name, else the address
    // literal of this end of the connection.
    std::string UserID;
    // None: the plain dialogue, with HELO unless User is set, and never a login.
    MailSecurity Security = MailSecurity::None;
    // The login, made over TLS when User is not empty.
    std::string User;
    std::string Password;
    // Whether the server's certificate must be trusted and name Host; CaFile is a PEM file
    // of authorities trusted beside the system's.
    bool VerifyCertificate = true;
    std::string CaFile;
    TMailMessage MailMessage;
    THeaderList FinalHeader;  // rebuilt by every SendMail
    TEncodeMethod EncodeType = emMime;
    bool ClearParams = true;  // empty the recipient lists after each mail sent
    TMailSubType SubType = stPlain;
    std::string Charset = "us-ascii";

    // The connection is open and HELO was accepted. (This hides the socket's own OnConnect,
    // which therefore stays unassigned on the mail client.)
    TNotifyEvent OnConnect;
    TNotifyEvent OnSuccess;  // the mail was accepted
    TNotifyEvent OnFailure;  // the end of the mail data was refused
    TNotifyEvent OnSendStart;
    THeaderInCompleteEvent OnHeaderIncomplete;
    TRecipientNotFoundEvent OnRecipientNotFound;
    TAuthenticationFailedEvent OnAuthenticationFailed;

    // Opens the connection, reads the greeting, says HELO (or EHLO), secures the connection
    // and logs in as Security and User ask. On a failure it sends QUIT (unless the server
    // is out of step: a reply not read whole, a failed TLS handshake), closes the connection
    // and throws.
    void Connect() override;
    // Sends MailMessage over the open connection; does nothing while another Connect or
    // SendMail runs. The connection stays open when it fails.
    void SendMail();
    // Sends QUIT and closes the connection, also when QUIT is refused (then it throws). After
    // a time limit, a cancel or mail data left open it closes without QUIT.
    void Disconnect() override;
    // Over TLS once the connection is secured.
    std::string Transaction(const std::string& command) override;

    // Builds FinalHeader and the body bytes from MailMessage.
    void AssembleMail();
    // Empties the recipient and attachment lists; the body, subject and sender stay.
    void ClearParameters();

    bool Busy() const { return busy_; }
    // The assembled body bytes of the last SendMail, dot-stuffed.
    const std::string& BodyStream() const { return body_; }
    // What the server offered in its last reply to EHLO.
    const SmtpCapabilities& Capabilities() const { return capabilities_; }

  private:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Sends command and reads its whole reply: the code of its first line, and its last line
    // as LastReply. With lines, every line of the reply is added there. A connection closed
    // instead of a reply is a failure.
    int command(const std::string& line, std::vector<std::string>* lines = nullptr);
    // Reads the continuation lines of a reply of which line is the first, all of them by
    // `until`; the last line. With lines, every line of the reply is added there.
    std::string ReadExtraLines(std::string line, TimePoint until, std::vector<std::string>* lines = nullptr);
    // When a reply that begins now must have ended.
    TimePoint replyLimit() const;
    void sendBytes(const std::string& bytes);
    void readGreeting();
    void sayHello();
    // The argument of EHLO: UserID when it is a domain name, else the address literal of
    // this end of the connection.
    std::string ehloName();
    // What the server's certificate must name: Host when it is a name, else the address
    // the connection went to.
    std::string tlsPeerName();
    void startTls();
    void login();
    // Sends line and reads the whole reply: its code, and its last line (without the line
    // end) in last.
    int exchange(const std::string& line, std::string& last);
    // One reply line, over TLS when the connection is secured.
    std::string readReplyLine(TimePoint until);
    std::string readTlsLine(TimePoint until);
    void closeConnection();

    bool busy_ = false;
    std::string body_;
    SmtpCapabilities capabilities_;
    std::unique_ptr<TlsChannel> tls_;
    std::string tlsInput_;  // received over TLS, not yet taken as lines
    // A reply was not read whole (a time limit, a cancel, a failed TLS handshake) or mail
    // data is open: the server would not take QUIT for a command, so none is sent.
    bool outOfStep_ = false;
};
