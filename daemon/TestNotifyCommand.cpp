#include "daemon/TestNotifyCommand.h"

#include <algorithm>
#include <ctime>

#include "alerts/ChannelSender.h"
#include "storage/SettingsFile.h"

int runTestNotify(const DaemonOptions& options, std::ostream& out, std::ostream& err) {
    SettingsFile extra;
    if (!extra.load(settingsPathBeside(configPathFor(options)))) {
        err << "vardomond: " << extra.errorText << '\n';
        return 2;
    }
    const std::vector<ChannelSettings>& channels = extra.settings.channels;
    const auto channel = std::find_if(channels.begin(), channels.end(),
                                      [&](const ChannelSettings& c) { return c.name == options.testNotify; });
    if (channel == channels.end()) {
        bool named = false;
        for (const ChannelProblem& problem : extra.channelProblems) {
            if (problem.name == options.testNotify) {
                err << "vardomond: " << problem.text << '\n';
                named = true;
            }
        }
        if (!named) {
            err << "vardomond: no channel is named " << options.testNotify << " in " << extra.fileName << '\n';
        }
        return 2;
    }
    const ChannelTestResult result = sendChannelTest(*channel, std::time(nullptr));
    (result.sent ? out : err) << "vardomond: " << result.text << '\n';
    return result.sent ? 0 : 1;
}
