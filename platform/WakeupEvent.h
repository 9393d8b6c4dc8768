// A descriptor that another thread makes readable to end a poll() at once.
#pragma once

#include "platform/UniqueFd.h"

class WakeupEvent {
  public:
    // Throws std::system_error when the system has no descriptor left.
    WakeupEvent();

    int fd() const { return fd_.get(); }
    // Makes fd() readable; safe from any thread and from a signal handler.
    void signal() noexcept;
    // Makes fd() unreadable again, consuming every earlier signal.
    void drain() noexcept;

  private:
    UniqueFd fd_;
};
