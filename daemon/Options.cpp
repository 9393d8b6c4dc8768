#include "daemon/Options.h"

#include <CLI/CLI.hpp>

#include <filesystem>

#include "core/ListenAddress.h"
#include "core/Mutes.h"
#include "platform/ConfigLocation.h"

#ifndef VARDO_VERSION
#define VARDO_VERSION "unknown"
#endif

ParsedOptions parseOptions(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    DaemonOptions o;
    CLI::App app{
        "Kestrune Vardomon without a window: checks the hosts of a document over and over, "
        "runs their actions and serves their metrics.",
        "vardomond"};
    app.set_version_flag("--version", std::string("vardomond ") + VARDO_VERSION);
    app.add_option("document", o.document,
                   "The host list (.vdm) to monitor; saved after every cycle that changed it");
    app.add_option("--config", o.configDir,
                   "Folder of vardo.cfg and settings.toml (default: ~/.config/kestrune-vardomon)")
        ->check(CLI::ExistingDirectory);
    app.add_flag("--once", o.once,
                 "Check every host once and exit: 0 when every host is up, 1 when any is down or failed");
    app.add_option("--interval", o.intervalSeconds, "Seconds between cycles, instead of vardo.cfg's minutes")
        ->check(CLI::Range(0, 86400 * 365));
    app.add_option("--metrics-listen", o.metricsListen,
                   "Serve the Prometheus metrics on ADDR:PORT (127.0.0.1:9469, [::1]:9469)")
        ->check([](const std::string& text) {
            return parseListenAddress(text) ? std::string()
                                            : std::string("not an address and a port: " + text);
        });
    std::string log;
    app.add_option("--log", log,
                   "- writes every event to standard output, whatever vardo.cfg says about logging")
        ->check(CLI::IsMember({"-"}));
    app.add_option("--test-mail", o.testMail,
                   "Send one test mail to ADDRESS (several separated by commas) with the mail settings "
                   "and exit: 0 when the server accepted it, 1 when not")
        ->option_text("ADDRESS");
    app.add_option("--test-notify", o.testNotify,
                   "Send one test notification to the channel NAME of settings.toml and exit: 0 when it "
                   "was delivered, 1 when not, 2 when no usable channel has that name")
        ->option_text("NAME");
    auto* mute = app.add_option("--mute", o.mute,
                                "Mute the actions of the hosts NAME[,NAME] in settings.toml and exit; "
                                "checks and the log go on")
                     ->delimiter(',')
                     ->option_text("NAME[,NAME]");
    std::string span;
    app.add_option("--for", span, "With --mute: for 30m, 2h, 1d... (default: until unmuted)")
        ->needs(mute)
        ->check([](const std::string& text) {
            return parseSpan(text) ? std::string() : std::string("not a span such as 30m, 2h or 1d: " + text);
        });
    app.add_option("--unmute", o.unmute, "Lift the mutes of the hosts NAME[,NAME] in settings.toml and exit")
        ->delimiter(',')
        ->option_text("NAME[,NAME]")
        ->excludes(mute);
    app.add_flag("--report", o.report,
                 "Print each host's uptime, checks, outages and latency from the history and exit");
    app.add_option("--since", o.since, "How far back the report goes (default 24h)")
        ->check(CLI::IsMember({"24h", "7d", "30d", "365d"}));
    app.add_option("--format", o.format, "The report's form (default text)")
        ->check(CLI::IsMember({"text", "csv", "json"}));
    try {
        app.parse(argc, argv);
        o.muteSeconds = span.empty() ? 0 : *parseSpan(span);
        if (o.document.empty() && o.testMail.empty() && o.testNotify.empty() && o.mute.empty() &&
            o.unmute.empty()) {
            throw CLI::RequiredError("document");
        }
    } catch (const CLI::ParseError& e) {
        // A bad command line is a bad setting: status 2, as for a bad document.
        return ParsedOptions{std::nullopt, app.exit(e, out, err) == 0 ? 0 : 2};
    }
    o.logToStdout = log == "-";
    return ParsedOptions{o, 0};
}

std::string configPathFor(const DaemonOptions& options) {
    return options.configDir.empty() ? configFilePath()
                                     : (std::filesystem::path(options.configDir) / "vardo.cfg").string();
}
