// Feeds arbitrary bytes to the settings reader: a failed read changes nothing and names the
// line; a successful one takes changed settings merged into the same text and reads back to
// exactly those.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "storage/SettingsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string path = "settings.toml";
    Settings read;
    std::string error;
    if (!decodeSettings(text, path, read, error)) {
        if (!(read == Settings{}) || !error.starts_with(path + " line ")) {
            std::abort();
        }
        return 0;
    }
    Settings changed = read;
    changed.mail.port = read.mail.port % 65535 + 1;
    changed.mail.security = read.mail.security == MailSecurity::Tls ? MailSecurity::None : MailSecurity::Tls;
    changed.mail.password = read.mail.password + "\"\\\n\t\x01\xc3\xa9";
    changed.desktop.tray = !read.desktop.tray;
    changed.metrics.listen = read.metrics.listen.empty() ? "[::1]:9469" : "";
    if (!read.channels.empty()) {
        changed.channels.erase(changed.channels.begin());
    }
    std::string merged;
    Settings again;
    if (!mergeSettings(text, path, read, changed, merged, error)) {
        // Channels laid out in a way the rewrite cannot follow are refused, never mangled.
        if (error.find("the changed channels cannot be written") == std::string::npos) {
            std::abort();
        }
        return 0;
    }
    if (!decodeSettings(merged, path, again, error) || !(again == changed)) {
        std::abort();
    }
    return 0;
}
