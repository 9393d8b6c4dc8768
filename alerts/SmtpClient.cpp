#include "alerts/SmtpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <sys/socket.h>

#include <algorithm>

#include "probes/NetAddress.h"
#include "probes/TlsChannel.h"
#include "probes/WinsockErrors.h"

namespace {

// An EHLO reply names a handful of capabilities; a server that sends more lines than this
// gets them read and dropped.
constexpr std::size_t kMaxReplyLines = 100;

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

// Base64 of the bytes, as the login sends them; the caller wipes both when done.
std::string base64(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<std::size_t>(std::max(n, 0)));
    return out;
}

// Overwrites a secret before its memory goes back.
class Wiped {
  public:
    explicit Wiped(std::string text) : text_(std::move(text)) {}
    ~Wiped() { OPENSSL_cleanse(text_.data(), text_.size()); }
    Wiped(const Wiped&) = delete;
    Wiped& operator=(const Wiped&) = delete;
    const std::string& get() const { return text_; }

  private:
    std::string text_;
};

// The address of this end (local) or the far end of a connected socket in its usual text
// form, without an IPv6 zone; family is AF_INET, AF_INET6, or AF_UNSPEC when there is none.
std::string endAddress(int fd, bool local, int& family) {
    sockaddr_storage end{};
    socklen_t length = sizeof end;
    auto* sa = reinterpret_cast<sockaddr*>(&end);
    family = AF_UNSPEC;
    if ((local ? ::getsockname(fd, sa, &length) : ::getpeername(fd, sa, &length)) != 0) {
        return {};
    }
    char text[INET6_ADDRSTRLEN] = {};
    const void* bytes = nullptr;
    if (end.ss_family == AF_INET) {
        bytes = &reinterpret_cast<const sockaddr_in*>(&end)->sin_addr;
    } else if (end.ss_family == AF_INET6) {
        bytes = &reinterpret_cast<const sockaddr_in6*>(&end)->sin6_addr;
    }
    if (bytes == nullptr || ::inet_ntop(end.ss_family, bytes, text, sizeof text) == nullptr) {
        return {};
    }
    family = end.ss_family;
    return text;
}

}  // namespace

TSmtpClient::TSmtpClient() {
    Port = 25;
    TimeOut = kSmtpTimeLimitMs;
}

TSmtpClient::~TSmtpClient() = default;

std::chrono::steady_clock::time_point TSmtpClient::replyLimit() const {
    return std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeOut);
}

std::string TSmtpClient::ReadExtraLines(std::string line, TimePoint until, std::vector<std::string>* lines) {
    // A limit per line would let a server that keeps sending continuation lines hold the
    // client for ever.
    while (!line.empty() && (line[0] == ' ' || (line.size() > 3 && line[3] == '-'))) {
        std::string next = readReplyLine(until);
        if (next.empty()) {
            break;  // the server closed the connection
        }
        line = std::move(next);
        if (lines != nullptr && lines->size() < kMaxReplyLines) {
            lines->push_back(line);
        }
    }
    return line;
}

std::string TSmtpClient::readReplyLine(TimePoint until) {
    return tls_ ? readTlsLine(until) : ReadLnBy(until);
}

std::string TSmtpClient::readTlsLine(TimePoint until) {
    for (;;) {
        // Checked before every read: lines that keep arriving never make a wait time out.
        if (TimeOut > 0 && std::chrono::steady_clock::now() >= until) {
            throw ESocketAbort("Socket readln aborted");
        }
        const std::size_t end = tlsInput_.find('\n');
        if (end != std::string::npos) {
            std::string line = tlsInput_.substr(0, end + 1);
            tlsInput_.erase(0, end + 1);
            return line;
        }
        if (tlsInput_.size() >= kBufferSize) {
            throw ESocketError(socketErrorMessage(kWsaMessageTooLong));
        }
        if (!tls_->read(tlsInput_, until)) {
            // Closed by the server: as on a plain connection, the socket is given up.
            closeConnection();
            return {};
        }
    }
}

std::string TSmtpClient::Transaction(const std::string& command) {
    if (!tls_) {
        return TTcpSocket::Transaction(command);
    }
    takeReply({});
    tls_->write(std::string(command.c_str()) + "\r\n", replyLimit());
    takeReply(readTlsLine(replyLimit()));
    return LastReply();
}

int TSmtpClient::command(const std::string& line, std::vector<std::string>* lines) {
    // Until its whole reply is in, a command leaves the dialogue out of step: what comes next
    // from the server would be taken for the reply to the next command.
    outOfStep_ = true;
    const auto limit = replyLimit();
    Transaction(line);
    // An empty reply means the server has gone; taking it for code 0 would let a mail to a
    // closed connection pass for sent.
    if (LastReply().empty()) {
        throw ESmtpError("Connection closed by the mail server");
    }
    const int code = ReplyNumber();
    if (lines != nullptr) {
        lines->push_back(LastReply());
    }
    std::string last = ReadExtraLines(LastReply(), limit, lines);
    if (last != LastReply()) {
        // The last line carries the text a refusal is reported with.
        takeReply(std::move(last));
    }
    outOfStep_ = false;
    return code;
}

void TSmtpClient::sendBytes(const std::string& bytes) {
    // Mail data stays open until the reply to its end: a QUIT now would be taken for data.
    outOfStep_ = true;
    // In pieces the socket's buffer can hold, each one within the time limit.
    constexpr std::size_t kPiece = 65535;
    for (std::size_t done = 0; done < bytes.size(); done += kPiece) {
        const std::size_t n = std::min(kPiece, bytes.size() - done);
        if (tls_) {
            tls_->write(std::string_view(bytes).substr(done, n), replyLimit());
        } else {
            SendBuffer(bytes.data() + done, static_cast<std::uint16_t>(n));
        }
    }
}

void TSmtpClient::readGreeting() {
    outOfStep_ = true;
    const auto greetingLimit = replyLimit();
    const std::string greeting = readReplyLine(greetingLimit);
    if (greeting.empty()) {
        throw ESmtpError("Connection closed by the mail server");
    }
    const int code = leadingNumber(greeting);
    const std::string last = ReadExtraLines(greeting, greetingLimit);
    outOfStep_ = false;
    if (code >= 400) {
        throw ESmtpError(last);
    }
}

void TSmtpClient::sayHello() {
    // The plain dialogue says HELO; EHLO is what tells the client about STARTTLS and AUTH.
    const bool extended = Security != MailSecurity::None || !User.empty();
    bool askedOnce = false;
    for (;;) {
        std::vector<std::string> lines;
        const int helo =
            command((extended ? "EHLO " + ehloName() : "HELO " + cleanHeaderValue(UserID)), &lines);
        const std::string last = LastReply();
        if (helo < 300) {
            capabilities_ = extended ? parseEhloReply(lines) : SmtpCapabilities{};
            return;
        }
        bool handled = false;
        if (!askedOnce && OnAuthenticationFailed) {
            askedOnce = true;
            OnAuthenticationFailed(handled);
        }
        if (!handled) {
            throw ESmtpError(extended ? last : "Authentication failed");
        }
    }
}

std::string TSmtpClient::ehloName() {
    // A server that holds to RFC 5321 takes a domain name or an address literal, not a bare
    // host name.
    const std::string name = cleanHeaderValue(UserID);
    if (name.find('.') != std::string::npos) {
        return name;
    }
    int family = AF_UNSPEC;
    const std::string address = endAddress(socketHandle(), true, family);
    if (family == AF_INET) {
        return "[" + address + "]";
    }
    if (family == AF_INET6) {
        return "[IPv6:" + address + "]";
    }
    return name;
}

std::string TSmtpClient::tlsPeerName() {
    // The socket takes addresses in forms a certificate check reads as names ("127.1",
    // "[::1]", "fe80::1%eth0"); the address it connected to is the one to check.
    const std::string host(Host.c_str());
    NetAddress literal;
    if (::inet_addr(host.c_str()) == INADDR_NONE && parseIpv6Literal(host, literal) != Ipv6Literal::Valid) {
        return host;
    }
    int family = AF_UNSPEC;
    const std::string address = endAddress(socketHandle(), false, family);
    // Without it the check against host fails, as it must.
    return family != AF_UNSPEC ? address : host;
}

void TSmtpClient::startTls() {
    // Until the handshake is done the server expects nothing but TLS.
    outOfStep_ = true;
    tls_ = std::make_unique<TlsChannel>(socketHandle(), TlsPeer{tlsPeerName(), VerifyCertificate, CaFile},
                                        [this](short events, TimePoint until, const char* abortText) {
                                            if (!waitSocket(events, until)) {
                                                throw ESocketAbort(abortText);
                                            }
                                        });
    tls_->handshake(replyLimit());
    outOfStep_ = false;
}

int TSmtpClient::exchange(const std::string& line, std::string& last) {
    const int code = command(line);
    last = withoutLineEnd(LastReply());
    return code;
}

void TSmtpClient::login() {
    if (!tls_) {
        throw ESmtpError("A password is never sent without TLS");
    }
    const std::string user(User.c_str());
    const Wiped password{std::string(Password.c_str())};
    std::string last;
    bool accepted = false;
    if (capabilities_.authPlain) {
        const Wiped token{std::string(1, '\0') + user + '\0' + password.get()};
        const Wiped encoded{base64(token.get())};
        const Wiped line{"AUTH PLAIN " + encoded.get()};
        const int code = exchange(line.get(), last);
        accepted = code >= 200 && code < 300;
    } else if (capabilities_.authLogin) {
        const Wiped encoded{base64(password.get())};
        accepted = exchange("AUTH LOGIN", last) == 334 && exchange(base64(user), last) == 334;
        if (accepted) {
            const int code = exchange(encoded.get(), last);
            accepted = code >= 200 && code < 300;
        }
    } else {
        throw ESmtpError("The mail server offers no login by AUTH PLAIN or LOGIN");
    }
    if (!accepted) {
        throw ESmtpError("Login refused: " + last);
    }
}

void TSmtpClient::Connect() {
    {
        BusyMark mark(busy_);
        TTcpSocket::Connect();
        // A new connection: nothing of an earlier one's TLS carries over.
        tls_.reset();
        tlsInput_.clear();
        outOfStep_ = false;
        capabilities_ = {};
        try {
            if (Security == MailSecurity::Tls) {
                startTls();
            }
            readGreeting();
            sayHello();
            if (Security == MailSecurity::StartTls) {
                // Going on without it would send the mail, and the login, in clear.
                if (!capabilities_.startTls) {
                    throw ESmtpError("The mail server offers no STARTTLS");
                }
                std::string last;
                const int code = exchange("STARTTLS", last);
                if (code < 200 || code >= 300) {
                    throw ESmtpError("STARTTLS refused: " + last);
                }
                startTls();
                // What the server offered before TLS counts for nothing now.
                sayHello();
            }
            if (Security != MailSecurity::None && !User.empty()) {
                login();
            }
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

void TSmtpClient::closeConnection() {
    if (tls_) {
        // Only on the connection it was made on: once the socket has gone, its descriptor
        // may name something else.
        if (Connected()) {
            tls_->close();
        }
        tls_.reset();
    }
    tlsInput_.clear();
    outOfStep_ = false;
    TTcpSocket::Disconnect();
}

void TSmtpClient::Disconnect() {
    std::string refusal;
    if (Connected() && !outOfStep_) {
        try {
            const int code = command("QUIT");
            if (code >= 340) {
                refusal = LastReply();
            }
        } catch (...) {
            closeConnection();
            throw;
        }
    }
    closeConnection();
    if (!refusal.empty()) {
        throw ESmtpError(refusal);
    }
}
