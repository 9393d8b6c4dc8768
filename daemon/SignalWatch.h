// SIGTERM, SIGINT and SIGHUP as readable events of a descriptor (signalfd) instead of
// handlers: the main loop reads them between its other work, so nothing runs in a signal
// handler. Made first thing in main, before any thread starts: the signals are blocked in
// the calling thread and every thread started after it inherits that, so they reach no
// thread and only the descriptor.
#pragma once

#include <vector>

class SignalWatch {
  public:
    SignalWatch();
    // The signals stay blocked: one that comes while the program exits must not end it with
    // another status.
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    int fd() const { return fd_; }
    // The signals that arrived since the last call, in order.
    std::vector<int> take();

  private:
    int fd_ = -1;
};
