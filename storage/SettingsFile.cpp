#include "storage/SettingsFile.h"

#include <toml++/toml.h>

#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>

#include "core/ListenAddress.h"
#include "storage/SafeFile.h"

struct SettingsFile::Kept {
    toml::table table;
    // The file exists but could not be read: what it holds is unknown, so it is never
    // written over (a save would keep only the keys this program knows).
    bool unreadable = false;
};

namespace {

constexpr int kOwnerOnly = 0600;

// A value that cannot be used: the file and the line say where it is.
struct BadValue {
    std::string what;
    toml::source_region where;
};

std::string located(const std::string& path, std::uint32_t line, const std::string& what) {
    return path + " line " + std::to_string(line) + ": " + what;
}

class Reader {
  public:
    explicit Reader(const toml::table& root) : root_(root) {}

    // The table of a section; none when the file has no such section.
    const toml::table* section(const char* name) {
        const toml::node* node = root_.get(name);
        if (node == nullptr) {
            return nullptr;
        }
        if (!node->is_table()) {
            throw BadValue{std::string("[") + name + "] must be a table", node->source()};
        }
        return node->as_table();
    }

    static void text(const toml::table& t, const char* key, std::string& out) {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_string()) {
                throw BadValue{std::string(key) + " must be a text in double quotes", n->source()};
            }
            out = n->as_string()->get();
        }
    }
    static void flag(const toml::table& t, const char* key, bool& out) {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_boolean()) {
                throw BadValue{std::string(key) + " must be true or false", n->source()};
            }
            out = n->as_boolean()->get();
        }
    }
    static void number(const toml::table& t, const char* key, long long low, long long high,
                       std::int32_t& out) {
        if (const toml::node* n = t.get(key)) {
            if (!n->is_integer() || n->as_integer()->get() < low || n->as_integer()->get() > high) {
                throw BadValue{std::string(key) + " must be a whole number from " + std::to_string(low) +
                                   " to " + std::to_string(high),
                               n->source()};
            }
            out = static_cast<std::int32_t>(n->as_integer()->get());
        }
    }

  private:
    const toml::table& root_;
};

constexpr std::string_view kSecurityNames[] = {"none", "starttls", "tls"};

MailSecurity securityNamed(const toml::node& n) {
    if (n.is_string()) {
        for (std::size_t i = 0; i < std::size(kSecurityNames); ++i) {
            if (n.as_string()->get() == kSecurityNames[i]) {
                return static_cast<MailSecurity>(i);
            }
        }
    }
    throw BadValue{"security must be \"none\", \"starttls\" or \"tls\"", n.source()};
}

void readMail(Reader& r, MailSettings& mail) {
    const toml::table* t = r.section("mail");
    if (t == nullptr) {
        return;
    }
    Reader::number(*t, "port", 1, 65535, mail.port);
    if (const toml::node* n = t->get("security")) {
        mail.security = securityNamed(*n);
    }
    Reader::text(*t, "user", mail.user);
    Reader::text(*t, "password", mail.password);
    Reader::text(*t, "password_command", mail.passwordCommand);
    Reader::text(*t, "password_file", mail.passwordFile);
    Reader::flag(*t, "verify_certificate", mail.verifyCertificate);
    Reader::text(*t, "ca_file", mail.caFile);
}

void readMonitor(Reader& r, MonitorSettings& monitor) {
    const toml::table* t = r.section("monitor");
    if (t == nullptr) {
        return;
    }
    if (const toml::node* n = t->get("checks_at_once")) {
        if (!n->is_integer()) {
            throw BadValue{"checks_at_once must be a whole number", n->source()};
        }
        // Any whole number will do: the monitor cannot run fewer than one check or more than
        // it has room for.
        monitor.checksAtOnce = usableChecksAtOnce(n->as_integer()->get());
    }
}

void readDesktop(Reader& r, DesktopSettings& desktop) {
    const toml::table* t = r.section("desktop");
    if (t == nullptr) {
        return;
    }
    Reader::flag(*t, "notifications", desktop.notifications);
    Reader::flag(*t, "tray", desktop.tray);
    Reader::flag(*t, "close_to_tray", desktop.closeToTray);
}

void readMetrics(Reader& r, MetricsSettings& metrics) {
    const toml::table* t = r.section("metrics");
    if (t == nullptr) {
        return;
    }
    Reader::text(*t, "listen", metrics.listen);
    if (!metrics.listen.empty() && !parseListenAddress(metrics.listen)) {
        throw BadValue{"listen must be an address and a port, such as \"127.0.0.1:9469\" or \"[::1]:9469\"",
                       t->get("listen")->source()};
    }
}

// Writes the known keys into the kept table: a key the file held is replaced, a key it did not
// hold is added only when its value differs from the default, so the file stays as short as
// its owner made it.
class Writer {
  public:
    explicit Writer(toml::table& root) : root_(root) {}

    // Whether the file has the section with something in it; asking adds nothing.
    bool holds(const char* name) const {
        const toml::node* node = root_.get(name);
        return node != nullptr && node->is_table() && !node->as_table()->empty();
    }
    toml::table& section(const char* name) {
        toml::node* node = root_.get(name);
        if (node == nullptr || !node->is_table()) {
            root_.insert_or_assign(name, toml::table{});
            node = root_.get(name);
        }
        return *node->as_table();
    }

    template <typename T, typename D>
    static void put(toml::table& t, const char* key, const T& value, const D& fallback) {
        if (t.contains(key) || !(value == fallback)) {
            t.insert_or_assign(key, value);
        }
    }

  private:
    toml::table& root_;
};

void writeMail(Writer& w, const MailSettings& mail) {
    const MailSettings d;
    if (mail == d && !w.holds("mail")) {
        return;
    }
    toml::table& t = w.section("mail");
    Writer::put(t, "port", static_cast<std::int64_t>(mail.port), static_cast<std::int64_t>(d.port));
    Writer::put(t, "security", std::string(kSecurityNames[static_cast<std::size_t>(mail.security)]),
                std::string(kSecurityNames[static_cast<std::size_t>(d.security)]));
    Writer::put(t, "user", mail.user, d.user);
    Writer::put(t, "password", mail.password, d.password);
    Writer::put(t, "password_command", mail.passwordCommand, d.passwordCommand);
    Writer::put(t, "verify_certificate", mail.verifyCertificate, d.verifyCertificate);
    Writer::put(t, "ca_file", mail.caFile, d.caFile);
}

void writeMonitor(Writer& w, const MonitorSettings& monitor) {
    const MonitorSettings d;
    if (monitor == d && !w.holds("monitor")) {
        return;
    }
    toml::table& t = w.section("monitor");
    Writer::put(t, "checks_at_once", static_cast<std::int64_t>(monitor.checksAtOnce),
                static_cast<std::int64_t>(d.checksAtOnce));
}

void writeDesktop(Writer& w, const DesktopSettings& desktop) {
    const DesktopSettings d;
    if (desktop == d && !w.holds("desktop")) {
        return;
    }
    toml::table& t = w.section("desktop");
    Writer::put(t, "notifications", desktop.notifications, d.notifications);
    Writer::put(t, "tray", desktop.tray, d.tray);
    Writer::put(t, "close_to_tray", desktop.closeToTray, d.closeToTray);
}

void writeMetrics(Writer& w, const MetricsSettings& metrics) {
    const MetricsSettings d;
    if (metrics == d && !w.holds("metrics")) {
        return;
    }
    Writer::put(w.section("metrics"), "listen", metrics.listen, d.listen);
}

}  // namespace

SettingsFile::SettingsFile() : kept_(std::make_unique<Kept>()) {}
SettingsFile::~SettingsFile() = default;

bool SettingsFile::load(const std::string& path) {
    fileName = path;
    errorText.clear();
    settings = Settings{};
    kept_->table = toml::table{};
    kept_->unreadable = false;
    std::string bytes;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return true;
    }
    if (!readWholeFile(path, bytes)) {
        errorText = path + ": the file cannot be read";
        kept_->unreadable = true;
        return false;
    }
    Settings read;
    try {
        toml::table table = toml::parse(bytes, path);
        Reader r(table);
        readMail(r, read.mail);
        readMonitor(r, read.monitor);
        readDesktop(r, read.desktop);
        readMetrics(r, read.metrics);
        kept_->table = std::move(table);
    } catch (const toml::parse_error& e) {
        errorText = located(path, e.source().begin.line, std::string(e.description()));
        kept_->unreadable = true;
        return false;
    } catch (const BadValue& e) {
        errorText = located(path, e.where.begin.line, e.what);
        kept_->unreadable = true;
        return false;
    }
    settings = std::move(read);
    return true;
}

bool SettingsFile::save() {
    if (kept_->unreadable) {
        errorText = fileName + ": not written, since it could not be read";
        return false;
    }
    toml::table table = kept_->table;
    Writer w(table);
    writeMail(w, settings.mail);
    writeMonitor(w, settings.monitor);
    writeDesktop(w, settings.desktop);
    writeMetrics(w, settings.metrics);
    std::ostringstream out;
    out << table << '\n';
    std::string reason;
    if (!makeParentFolders(fileName) ||
        writeFileReplacing(fileName, out.str(), reason, kOwnerOnly) != WriteResult::Ok) {
        errorText = fileName + ": " + (reason.empty() ? std::string("the folder cannot be created") : reason);
        return false;
    }
    kept_->table = std::move(table);
    errorText.clear();
    return true;
}

std::string settingsPathBeside(const std::string& configPath) {
    return (std::filesystem::path(configPath).parent_path() / "settings.toml").string();
}
