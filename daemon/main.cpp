// vardomond: Kestrune Vardomon without a window, for servers under systemd.
#include <csignal>
#include <exception>
#include <iostream>

#include "daemon/Daemon.h"
#include "daemon/MuteCommand.h"
#include "daemon/Options.h"
#include "daemon/ReportCommand.h"
#include "daemon/SignalWatch.h"
#include "daemon/TestMailCommand.h"
#include "daemon/TestNotifyCommand.h"

int main(int argc, char** argv) {
    try {
        // Output nobody reads any more must not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        // Inherited from a parent that ignores it, SIGCHLD ignored would reap the commands
        // before their exit status is read.
        std::signal(SIGCHLD, SIG_DFL);
        const ParsedOptions parsed = parseOptions(argc, argv, std::cout, std::cerr);
        if (!parsed.run) {
            return parsed.exitStatus;
        }
        if (!parsed.run->mute.empty() || !parsed.run->unmute.empty()) {
            return runMuteCommand(*parsed.run, std::cout, std::cerr);
        }
        if (parsed.run->report) {
            return runReport(*parsed.run, std::cout, std::cerr);
        }
        if (!parsed.run->testMail.empty()) {
            // A single mail: signals keep their usual meaning, so Ctrl+C ends it.
            return runTestMail(*parsed.run, std::cout, std::cerr);
        }
        if (!parsed.run->testNotify.empty()) {
            return runTestNotify(*parsed.run, std::cout, std::cerr);
        }
        // Before any thread starts (see SignalWatch).
        SignalWatch signals;
        Daemon daemon(*parsed.run, signals);
        return daemon.run();
    } catch (const std::exception& e) {
        std::cerr << "vardomond: " << e.what() << '\n';
        return 2;
    }
}
