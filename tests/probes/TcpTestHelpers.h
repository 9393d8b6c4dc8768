// Small helpers shared by the TCP socket, probe and monitor tests.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "probes/TcpSocket.h"

namespace tcptest {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

inline long long msSince(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

// Polls cond every millisecond for at most limit; returns its last value.
inline bool waitUntil(const std::function<bool()>& cond, milliseconds limit = milliseconds(5000)) {
    const auto end = Clock::now() + limit;
    while (!cond()) {
        if (Clock::now() >= end) {
            return false;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

// A socket whose closes can be made to fail (the descriptor is gone all the same, as with
// close(2)), for the checks that must survive a failing close.
class FailingCloseSocket : public TTcpSocket {
  public:
    std::atomic<int> failCloses{0};

  protected:
    int closeHandle(int fd) override {
        if (failCloses > 0) {
            --failCloses;
            ::close(fd);
            errno = EIO;
            return -1;
        }
        return TTcpSocket::closeHandle(fd);
    }
};

inline void connectTo(TTcpSocket& sock, std::uint16_t port) {
    sock.Host = "127.0.0.1";
    sock.Port = port;
    sock.Connect();
}

// The text of the ESocketError that fn throws; "no exception" when it returns.
template <typename Fn>
std::string socketErrorOf(Fn&& fn) {
    try {
        fn();
    } catch (const ESocketError& e) {
        return e.what();
    }
    return "no exception";
}

// Calls Cancel on sock after delay, from another thread, for as long as it lives.
class DelayedCancel {
  public:
    DelayedCancel(TTcpSocket& sock, milliseconds delay)
        : thread_([&sock, delay] {
              std::this_thread::sleep_for(delay);
              sock.Cancel();
          }) {}
    ~DelayedCancel() { thread_.join(); }
    DelayedCancel(const DelayedCancel&) = delete;
    DelayedCancel& operator=(const DelayedCancel&) = delete;

  private:
    std::thread thread_;
};

// A promise that a server script fulfils once (later calls are ignored).
class Captured {
  public:
    void set(const std::string& value) {
        std::call_once(once_, [&] { promise_.set_value(value); });
    }
    // What was captured, or "<nothing>" after limit.
    std::string get(milliseconds limit = milliseconds(5000)) {
        if (future_.wait_for(limit) != std::future_status::ready) {
            return "<nothing>";
        }
        return future_.get();
    }

  private:
    std::once_flag once_;
    std::promise<std::string> promise_;
    std::future<std::string> future_ = promise_.get_future();
};

}  // namespace tcptest
