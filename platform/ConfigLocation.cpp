#include "platform/ConfigLocation.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace {

const char* processEnv(const char* name) {
    return std::getenv(name);
}

}  // namespace

std::string configFilePath(const char* (*getenvFn)(const char*)) {
    if (getenvFn == nullptr) {
        getenvFn = processEnv;
    }
    std::string base;
    const char* xdg = getenvFn("XDG_CONFIG_HOME");
    // Relative paths in XDG_CONFIG_HOME are to be ignored, by the XDG base directory rules.
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenvFn("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = ::getpwuid(::getuid());
            home = pw != nullptr ? pw->pw_dir : nullptr;
        }
        if (home == nullptr || home[0] == '\0') {
            // Nowhere better: the current directory, as a bare name.
            return "vardo.cfg";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/kestrune-vardomon/vardo.cfg";
}
