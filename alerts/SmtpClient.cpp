#include "alerts/SmtpClient.h"

#include <algorithm>

namespace {

// Marks the client busy for one call, unless an outer call already did.
class BusyMark {
  public:
    explicit BusyMark(bool& busy) : busy_(busy), mine_(!busy) { busy_ = true; }
    ~BusyMark() {
        if (mine_) {
            busy_ = false;
        }
    }
    BusyMark(const BusyMark&) = delete;
    BusyMark& operator=(const BusyMark&) = delete;

  private:
    bool& busy_;
    bool mine_;
};

int leadingNumber(const std::string& line) {
    long long value = 0;
    std::size_t digits = 0;
    while (digits < line.size() && digits < 10 && line[digits] >= '0' && line[digits] <= '9') {
        value = value * 10 + (line[digits] - '0');
        ++digits;
    }
    return static_cast<int>(std::min<long long>(value, 99999));
}

}  // namespace

TSmtpClient::TSmtpClient() {
    Port = 25;
    TimeOut = kSmtpTimeLimitMs;
}

std::chrono::steady_clock::time_point TSmtpClient::replyLimit() const {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

std::string TSmtpClient::ReadExtraLines(std::string line, std::chrono::steady_clock::time_point until) {
    // A limit per line would let a server that keeps sending continuation lines hold the
    // client for ever.
    while (!line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'))) {
        std::string next = ReadLnBy(until);
        if (next.empty()) {
            break;  // the server closed the connection
        }
        line = std::move(next);
    }
    return line;
}

int TSmtpClient::command(const std::string& line) {
    Transaction(line);
    // An empty reply means the server has gone; taking it for code 0 would let a mail to a
    // closed connection pass for sent.
    if (LastReply().empty()) {
        throw ESmtpError("Connection closed by the mail server");
    }
    return ReplyNumber();
}

void TSmtpClient::sendBytes(const std::string& bytes) {
    // In pieces the socket's buffer can hold, each one within the time limit.
    constexpr std::size_t kPiece = 65535;
    for (std::size_t done = 0; done < bytes.size(); done += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - done);
        SendBuffer(bytes.data() + done, static_cast<std::uint16_t>(n));
    }
}

void TSmtpClient::sayHello() {
    const auto greetingLimit = replyLimit();
    const std::string greeting = ReadLnBy(greetingLimit);
    if (greeting.empty()) {
        throw ESmtpError("Connection closed by the mail server");
    }
    const int code = leadingNumber(greeting);
    const std::string last = ReadExtraLines(greeting, greetingLimit);
    if (code >= 400) {
        throw ESmtpError(last);
    }
    bool askedOnce = false;
    for (;;) {
        const auto heloLimit = replyLimit();
        const int helo = command("HELO " + cleanHeaderValue(UserID));
        ReadExtraLines(LastReply(), heloLimit);
        if (helo < 300) {
            return;
        }
        bool handled = false;
        if (!askedOnce && OnAuthenticationFailed) {
            askedOnce = true;
            OnAuthenticationFailed(handled);
        }
        if (!handled) {
            throw ESmtpError("Authentication failed");
        }
    }
}

void TSmtpClient::Connect() {
    {
        BusyMark mark(busy_);
        TTcpSocket::Connect();
        try {
            sayHello();
        } catch (...) {
            try {
                Disconnect();
            } catch (...) {
                // The refusal that ended the greeting is what the caller hears about.
            }
            throw;
        }
    }
    if (OnConnect) {
        OnConnect(*this);
    }
}

void TSmtpClient::AssembleMail() {
    assembleMail(MailMessage, SubType, Charset, FinalHeader, body_);
}

void TSmtpClient::ClearParameters() {
    MailMessage.ToAddress.clear();
    MailMessage.ToCarbonCopy.clear();
    MailMessage.ToBlindCarbonCopy.clear();
    MailMessage.Attachments.clear();
}

void TSmtpClient::SendMail() {
    if (busy_) {
        return;
    }
    bool success = false;
    {
        BusyMark mark(busy_);
        AssembleMail();
        CertifyConnect();
        if (!headerComplete(MailMessage)) {
            bool handled = false;
            if (OnHeaderIncomplete) {
                OnHeaderIncomplete(handled, MailMessage.FromAddress.empty() ? 1 : 2);
            }
            if (!handled) {
                throw ESmtpError("Incomplete Header");
            }
            AssembleMail();
            if (!headerComplete(MailMessage)) {
                throw ESmtpError("Incomplete Header");
            }
        }
        if (OnSendStart) {
            OnSendStart(*this);
        }
        if (command("RSET") >= 400) {
            throw ESmtpError(LastReply());
        }
        if (command("MAIL FROM:<" + cleanHeaderValue(MailMessage.FromAddress) + ">") >= 400) {
            throw ESmtpError(LastReply());
        }
        for (const auto* list :
             {&MailMessage.ToAddress, &MailMessage.ToCarbonCopy, &MailMessage.ToBlindCarbonCopy}) {
            for (const std::string& entry : *list) {
                // An entry with a line break would smuggle a command of its own; it is left out.
                if (hasLineBreak(entry)) {
                    continue;
                }
                const std::string address = ExtractAddress(entry);
                if (address.empty()) {
                    continue;
                }
                if (command("RCPT TO:<" + address + ">") > 300 && OnRecipientNotFound) {
                    OnRecipientNotFound(entry);
                }
            }
        }
        if (command("DATA") >= 400) {
            throw ESmtpError(LastReply());
        }
        sendBytes(headerBlock(FinalHeader));
        sendBytes(body_);
        if (command(".") >= 400) {
            if (OnFailure) {
                OnFailure(*this);
            }
            throw ESmtpError(LastReply());
        }
        success = true;
        if (ClearParams) {
            ClearParameters();
        }
    }
    if (success && OnSuccess) {
        OnSuccess(*this);
    }
}

void TSmtpClient::Disconnect() {
    std::string refusal;
    if (Connected()) {
        try {
            const int code = command("QUIT");
            if (code >= 340) {
                refusal = LastReply();
            }
        } catch (...) {
            TTcpSocket::Disconnect();
            throw;
        }
    }
    TTcpSocket::Disconnect();
    if (!refusal.empty()) {
        throw ESmtpError(refusal);
    }
}
