#include "platform/ConfigLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace {

const char* processEnv(const char* name) {
    return std::getenv(name);
}

}  // namespace

namespace {

// $VAR when it is an absolute path, else the home folder with fallback after it; empty when
// there is no home folder either.
std::string baseFolder(const char* (*getenvFn)(const char*), const char* var, const char* fallback) {
    const char* xdg = getenvFn(var);
    // Relative paths in XDG_*_HOME are to be ignored, by the XDG base directory rules.
    if (xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = getenvFn("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') {
        return {};
    }
    return std::string(home) + fallback;
}

}  // namespace

std::string configFilePath(const char* (*getenvFn)(const char*)) {
    if (getenvFn == nullptr) {
        getenvFn = processEnv;
    }
    const std::string base = baseFolder(getenvFn, "XDG_CONFIG_HOME", "/.config");
    // Nowhere better: the current directory, as a bare name.
    return base.empty() ? "vardo.cfg" : base + "/kestrune-vardomon/vardo.cfg";
}

std::string historyFilePath(const char* (*getenvFn)(const char*)) {
    if (getenvFn == nullptr) {
        getenvFn = processEnv;
    }
    // systemd's StateDirectory= may name several folders, separated by colons: the first.
    if (const char* state = getenvFn("STATE_DIRECTORY"); state != nullptr && state[0] == '/') {
        const std::string first(state, std::string_view(state).find(':') == std::string_view::npos
                                           ? std::string_view(state).size()
                                           : std::string_view(state).find(':'));
        return first + "/history.sqlite";
    }
    const std::string base = baseFolder(getenvFn, "XDG_DATA_HOME", "/.local/share");
    return base.empty() ? "history.sqlite" : base + "/kestrune-vardomon/history.sqlite";
}
