#include "daemon/MuteCommand.h"

#include <ctime>
#include <filesystem>

#include "core/Mutes.h"
#include "platform/ConfigLocation.h"
#include "storage/SettingsFile.h"

namespace {

std::string names(const std::vector<std::string>& hosts) {
    std::string text;
    for (const std::string& host : hosts) {
        text += (text.empty() ? "" : ", ") + host;
    }
    return text;
}

std::string localTime(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    char text[64];
    return std::strftime(text, sizeof text, "%a %d %b %Y %H:%M", &local) > 0 ? text : "";
}

}  // namespace

int runMuteCommand(const DaemonOptions& options, std::ostream& out, std::ostream& err) {
    const std::string configPath = options.configDir.empty()
                                       ? configFilePath()
                                       : (std::filesystem::path(options.configDir) / "vardo.cfg").string();
    SettingsFile file;
    if (!file.load(settingsPathBeside(configPath))) {
        err << "vardomond: " << file.errorText << '\n';
        return 2;
    }
    const std::time_t now = std::time(nullptr);
    const bool muting = !options.mute.empty();
    if (muting) {
        const std::time_t until = options.muteSeconds > 0 ? now + options.muteSeconds : 0;
        muteHosts(file.settings.monitor.mutes, options.mute, until, now);
    } else {
        unmuteHosts(file.settings.monitor.mutes, options.unmute);
    }
    if (!file.save()) {
        err << "vardomond: " << file.errorText << '\n';
        return 2;
    }
    if (!muting) {
        out << "vardomond: unmuted " << names(options.unmute) << '\n';
    } else if (options.muteSeconds > 0) {
        out << "vardomond: muted " << names(options.mute) << " until " << localTime(now + options.muteSeconds)
            << '\n';
    } else {
        out << "vardomond: muted " << names(options.mute) << " until unmuted\n";
    }
    out << "vardomond: a running vardomond takes this on its next SIGHUP\n";
    return 0;
}
