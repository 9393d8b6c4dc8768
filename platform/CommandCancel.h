// The cancel of the one command a runner waits for at a time. Another thread's cancel()
// makes fd() readable, which the wait watches beside the command; a cancel that came while
// no command was waited for is not meant for the next one and is dropped when it begins.
#pragma once

#include <sys/types.h>

#include <mutex>

#include "platform/WakeupEvent.h"

class CommandCancel {
  public:
    CommandCancel() = default;
    CommandCancel(const CommandCancel&) = delete;
    CommandCancel& operator=(const CommandCancel&) = delete;

    // Marks a command as waited for until the returned object goes.
    class Waiting {
      public:
        explicit Waiting(CommandCancel& owner) : owner_(owner) {}
        ~Waiting();
        Waiting(const Waiting&) = delete;
        Waiting& operator=(const Waiting&) = delete;

      private:
        CommandCancel& owner_;
    };
    [[nodiscard]] Waiting begin();

    // Safe from any thread; reaches only a command being waited for.
    void cancel();
    int fd() const { return event_.fd(); }

  private:
    std::mutex mutex_;
    bool waiting_ = false;
    WakeupEvent event_;
};

// A descriptor that becomes readable when the child has ended, or -1 where the kernel has
// none (errno tells why).
int openPidFd(pid_t pid);
