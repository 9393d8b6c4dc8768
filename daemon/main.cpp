// vardomond: Kestrune Vardomon without a window, for servers under systemd.
#include <csignal>
#include <exception>
#include <iostream>

#include "daemon/Daemon.h"
#include "daemon/Options.h"
#include "daemon/SignalWatch.h"

int main(int argc, char** argv) {
    try {
        // Before any thread starts (see SignalWatch).
        SignalWatch signals;
        // Output nobody reads any more must not end the program.
        std::signal(SIGPIPE, SIG_IGN);
        const ParsedOptions parsed = parseOptions(argc, argv, std::cout, std::cerr);
        if (!parsed.run) {
            return parsed.exitStatus;
        }
        Daemon daemon(*parsed.run, signals);
        return daemon.run();
    } catch (const std::exception& e) {
        std::cerr << "vardomond: " << e.what() << '\n';
        return 2;
    }
}
