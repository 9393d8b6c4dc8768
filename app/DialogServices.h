// What the host dialog's Test and Find buttons do to the system: play a sound, run a
// command through the shell and list the services of a machine.
#pragma once

#include <string>
#include <vector>

struct ServiceListing {
    // Empty when the list was built; otherwise the text to show ("Failed to open Service
    // Control Manager for " ... or "Failed to list services for " ...).
    std::string error;
    // One display line per service ("name (Display Name) - Running"), and the service name
    // behind each line, in the order the system lists them.
    std::vector<std::string> lines;
    std::vector<std::string> names;
};

class DialogServices {
  public:
    virtual ~DialogServices() = default;
    // Starts playing a wave file and returns at once; nothing is reported.
    virtual void playSound(const std::string& file) = 0;
    // Runs the command line through the shell and waits for it; its status is ignored.
    virtual void runShellCommand(const std::string& command) = 0;
    // The services of machine in the order the system lists them. The connection to the
    // machine's service manager is closed before this returns, chosen or not. It may wait for
    // the machine (up to the service calls' limit), so the dialog calls it on a thread of its
    // own.
    virtual ServiceListing listServices(const std::string& machine) = 0;
    // Ends a listServices that is waiting on another thread: it then returns an error at
    // once. Safe from any thread.
    virtual void cancelListing() {}
};
