// TSmtpClient: the mail client of the alert mails. It speaks the SMTP dialogue of RFC 821
// over a TTcpSocket: Connect (greeting and HELO), SendMail (one plain-text mail to every
// recipient), Disconnect (QUIT). Every call runs on the calling thread and ends with an
// exception when the server refuses; the events fire on that thread before the call ends.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "alerts/MailMessage.h"
#include "probes/TcpSocket.h"

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

    std::string UserID;  // the argument of "HELO "
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

    // Opens the connection, reads the greeting and says HELO. On a refusal it sends QUIT,
    // closes the connection and throws.
    void Connect() override;
    // Sends MailMessage over the open connection; does nothing while another Connect or
    // SendMail runs. The connection stays open when it fails.
    void SendMail();
    // Sends QUIT and closes the connection, also when QUIT is refused (then it throws).
    void Disconnect() override;

    // Builds FinalHeader and the body bytes from MailMessage.
    void AssembleMail();
    // Empties the recipient and attachment lists; the body, subject and sender stay.
    void ClearParameters();

    bool Busy() const { return busy_; }
    // The assembled body bytes of the last SendMail, dot-stuffed.
    const std::string& BodyStream() const { return body_; }

  private:
    // Sends command, takes the reply; a connection closed instead of a reply is a failure.
    int command(const std::string& line);
    // Reads the continuation lines of a reply of which line is the first, all of them by
    // `until`; the last line.
    std::string ReadExtraLines(std::string line, std::chrono::steady_clock::time_point until);
    // When a reply that begins now must have ended.
    std::chrono::steady_clock::time_point replyLimit() const;
    void sendBytes(const std::string& bytes);
    void sayHello();

    bool busy_ = false;
    std::string body_;
};
