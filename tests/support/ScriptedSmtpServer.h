// A mail server on 127.0.0.1 that answers from a script, for the refusals and stalls a real
// server is hard to make: any greeting, any reply to any command, or no reply at all. It
// serves one connection after the other and records every line it receives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ScriptedSmtpServer {
  public:
    // The reply to a command line (without its line end); "" means: never answer, and keep
    // the connection open until the client goes. The lines of the mail data are not
    // commands; the "." that ends them is.
    using Replies = std::function<std::string(const std::string& command)>;

    // Replies "250 OK" to everything and "354 go ahead" to DATA unless told otherwise.
    static std::string standardReply(const std::string& command);

    // As greeting or reply: continuation lines ("220-" for the greeting, "250-" for a reply),
    // one every 50 ms, and never the last line, until the client goes.
    static constexpr const char* kDrip = "<drip>";

    explicit ScriptedSmtpServer(std::string greeting = "220 scripted ready", Replies replies = standardReply);
    ~ScriptedSmtpServer();
    ScriptedSmtpServer(const ScriptedSmtpServer&) = delete;
    ScriptedSmtpServer& operator=(const ScriptedSmtpServer&) = delete;

    std::uint16_t port() const { return port_; }

    // Every line received so far, each without its CR LF; "<close>" marks where a client
    // closed its connection, "<data>" stands before the data lines of a mail.
    std::vector<std::string> transcript() const;
    // The command lines only (no data lines, no markers).
    std::vector<std::string> commands() const;
    int connections() const { return connections_; }

  private:
    void run();
    void serve(int fd);
    void drip(int fd, const std::string& prefix);
    void note(std::string line);

    std::string greeting_;
    Replies replies_;
    int listenFd_ = -1;
    int stopFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<int> connections_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> transcript_;
    std::vector<bool> isCommand_;
    std::thread thread_;
};
