#include "daemon/TestMailCommand.h"

#include <ctime>
#include <filesystem>

#include "alerts/TestMail.h"
#include "storage/SettingsFile.h"

int runTestMail(const DaemonOptions& options, std::ostream& out, std::ostream& err) {
    const std::string configPath = configPathFor(options);
    // As for monitoring: a missing vardo.cfg means the defaults, an unusable one is an error.
    ServerCfg cfg;
    std::error_code ec;
    if (std::filesystem::exists(configPath, ec) && !cfg.load(configPath)) {
        err << "vardomond: " << configPath << ": " << cfg.errorText << '\n';
        return 2;
    }
    SettingsFile extra;
    if (!extra.load(settingsPathBeside(configPath))) {
        err << "vardomond: " << extra.errorText << '\n';
        return 2;
    }
    const TestMailResult result =
        sendTestMail(cfg, extra.settings.mail, options.testMail, std::time(nullptr));
    if (!result.sent) {
        err << "vardomond: the test mail was not sent: " << result.text << '\n';
        return 1;
    }
    out << "vardomond: the test mail was sent: " << result.text << '\n';
    return 0;
}
