// vardomond's command line.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct DaemonOptions {
    std::string document;
    // The folder of vardo.cfg and settings.toml; empty: the user's configuration folder.
    std::string configDir;
    bool once = false;
    std::optional<std::int32_t> intervalSeconds;
    // Empty: as settings.toml says.
    std::string metricsListen;
    // Every event on standard output as well.
    bool logToStdout = false;
    // Print what the history holds of the document's hosts and exit.
    bool report = false;
    // How far back the report goes: "24h", "7d", "30d" or "365d".
    std::string since = "24h";
    // "text", "csv" or "json".
    std::string format = "text";
    // Not empty: send one test mail to these recipients and exit (no document needed).
    std::string testMail;
    // Not empty: send one test notification to the channel of this name and exit.
    std::string testNotify;
    // Not empty: mute these hosts for muteSeconds (0: until unmuted), or unmute them, in
    // settings.toml and exit.
    std::vector<std::string> mute;
    std::int64_t muteSeconds = 0;
    std::vector<std::string> unmute;
};

// Either options to run with, or the status to exit with at once (after --help, --version
// or a bad command line, whose message has gone to err).
struct ParsedOptions {
    std::optional<DaemonOptions> run;
    int exitStatus = 0;
};

ParsedOptions parseOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

// vardo.cfg in --config's folder, or in the user's configuration folder.
std::string configPathFor(const DaemonOptions& options);
