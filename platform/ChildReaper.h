// Collects the exit status of children that nobody waits for (launched commands, net
// messages), so that none of them stays behind as a zombie while the program runs on.
#pragma once

#include <sys/types.h>

#include <memory>

class ChildReaper {
  public:
    // The one reaper of the process; its thread starts with the first child it is given.
    static ChildReaper& instance();

    // Takes over waiting for pid. The caller must not wait for it itself.
    void adopt(pid_t pid);

    // Children adopted and not yet reaped (for tests and diagnostics).
    std::size_t pending() const;

    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;
    ~ChildReaper();

  private:
    ChildReaper();
    struct State;
    std::unique_ptr<State> state_;
};
