#include "storage/SettingsFile.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#include <variant>
#include <vector>

#include "core/ListenAddress.h"
#include "storage/ChannelEntries.h"
#include "storage/SafeFile.h"

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

// Mutes end at a time with its offset, written in UTC: 2026-12-09T21:00:00Z.
toml::date_time utcDateTime(std::time_t t) {
    std::tm utc{};
    gmtime_r(&t, &utc);
    return toml::date_time{toml::date{utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday},
                           toml::time{utc.tm_hour, utc.tm_min, utc.tm_sec}, toml::time_offset{}};
}

std::time_t timeOf(const toml::date_time& dt) {
    std::tm utc{};
    utc.tm_year = dt.date.year - 1900;
    utc.tm_mon = dt.date.month - 1;
    utc.tm_mday = dt.date.day;
    utc.tm_hour = dt.time.hour;
    utc.tm_min = dt.time.minute;
    utc.tm_sec = dt.time.second;
    return timegm(&utc) - static_cast<std::time_t>(dt.offset->minutes) * 60;
}

// mutes = [{ host = "gw", until = 2026-12-09T21:00:00Z }, { host = "db" }]: no end, until lifted.
HostMutes mutesFrom(const toml::node& n) {
    const char* const shape = "mutes must be a list of { host = \"name\", until = date and time }";
    if (!n.is_array()) {
        throw BadValue{shape, n.source()};
    }
    HostMutes mutes;
    for (const toml::node& element : *n.as_array()) {
        const toml::table* t = element.as_table();
        const toml::node* host = t != nullptr ? t->get("host") : nullptr;
        const toml::node* until = t != nullptr ? t->get("until") : nullptr;
        if (host == nullptr || !host->is_string() ||
            (until != nullptr && (!until->is_date_time() || !until->as_date_time()->get().offset))) {
            throw BadValue{shape, element.source()};
        }
        mutes.push_back(
            {host->as_string()->get(), until != nullptr ? timeOf(until->as_date_time()->get()) : 0});
    }
    return mutes;
}

toml::array mutesArray(const HostMutes& mutes) {
    toml::array out;
    for (const HostMute& m : mutes) {
        toml::table t{{"host", m.host}};
        if (m.until != 0) {
            t.insert("until", utcDateTime(m.until));
        }
        t.is_inline(true);
        out.push_back(std::move(t));
    }
    return out;
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
    Reader::number(*t, "flap_start", 0, 100, monitor.flapStart);
    Reader::number(*t, "flap_stop", 0, 100, monitor.flapStop);
    if (const toml::node* n = t->get("mutes")) {
        monitor.mutes = mutesFrom(*n);
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

void readHistory(Reader& r, HistorySettings& history) {
    const toml::table* t = r.section("history");
    if (t == nullptr) {
        return;
    }
    Reader::flag(*t, "enabled", history.enabled);
    Reader::text(*t, "path", history.path);
    constexpr long long kLongest = 36500;
    Reader::number(*t, "keep_checks_days", 1, kLongest, history.keepChecksDays);
    Reader::number(*t, "keep_minutes_days", 1, kLongest, history.keepMinutesDays);
    Reader::number(*t, "keep_hours_days", 1, kLongest, history.keepHoursDays);
}

// A text's lines, to turn the parser's positions into byte offsets.
class Lines {
  public:
    explicit Lines(std::string_view text) : text_(text) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\n') {
                starts_.push_back(i + 1);
            }
        }
    }
    std::size_t count() const { return starts_.size(); }
    // Where the line (from 1) starts, and where the next one does; the text's end past the last.
    std::size_t start(std::size_t line) const {
        return line >= 1 && line <= starts_.size() ? starts_[line - 1] : text_.size();
    }
    std::size_t after(std::size_t line) const { return line < starts_.size() ? starts_[line] : text_.size(); }
    // The parser counts columns in characters, the edit needs bytes.
    std::size_t offset(const toml::source_position& at) const {
        std::size_t i = start(at.line);
        const std::size_t end = after(at.line);
        for (toml::source_index column = 1; column < at.column && i < end; ++column) {
            ++i;
            while (i < end && (static_cast<unsigned char>(text_[i]) & 0xC0) == 0x80) {
                ++i;
            }
        }
        return i;
    }

  private:
    std::string_view text_;
    std::vector<std::size_t> starts_{0};
};

// The key a line assigns, when it begins one. The lines before it must read on their own,
// or the line could be the inside of a multi-line text, a password among them.
std::string keyOnLine(std::string_view text, std::size_t line) {
    const Lines lines(text);
    if (line < 1 || line > lines.count()) {
        return {};
    }
    try {
        (void)toml::parse(text.substr(0, lines.start(line)));
    } catch (const toml::parse_error&) {
        return {};
    }
    std::string_view key = text.substr(lines.start(line), lines.after(line) - lines.start(line));
    const std::size_t equals = key.find('=');
    if (equals == std::string_view::npos) {
        return {};
    }
    key = key.substr(0, equals);
    while (!key.empty() && (key.front() == ' ' || key.front() == '\t')) {
        key.remove_prefix(1);
    }
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
        key.remove_suffix(1);
    }
    // Whatever else the line starts with (a table's name, a broken comment) is not a key.
    const bool plain = std::all_of(key.begin(), key.end(),
                                   [](char c) { return c > ' ' && c < 0x7f && c != '#' && c != '['; });
    if (key.empty() || key.size() > 64 || !plain) {
        return {};
    }
    return std::string(key);
}

// A parse error names the file, the line and the key but never the value: the parser's own
// text quotes what it could not read, and an unquoted password is exactly such a value.
std::string parseErrorText(std::string_view text, const std::string& path, const toml::parse_error& e) {
    const std::size_t line = e.source().begin.line;
    const std::string key = keyOnLine(text, line);
    return located(path, static_cast<std::uint32_t>(line),
                   key.empty() ? std::string("not valid TOML")
                               : key + ": the value is not valid TOML (a text goes in double quotes)");
}

// One key this program writes, with its value in a form that compares and writes.
using KeyValue = std::variant<std::int64_t, bool, std::string, toml::array>;

struct Entry {
    const char* section;
    const char* key;
    KeyValue value;
};

std::vector<Entry> entriesOf(const Settings& s) {
    return {
        {"mail", "port", std::int64_t{s.mail.port}},
        {"mail", "security", std::string(kSecurityNames[static_cast<std::size_t>(s.mail.security)])},
        {"mail", "user", s.mail.user},
        {"mail", "password", s.mail.password},
        {"mail", "password_command", s.mail.passwordCommand},
        {"mail", "verify_certificate", s.mail.verifyCertificate},
        {"mail", "ca_file", s.mail.caFile},
        {"monitor", "checks_at_once", std::int64_t{s.monitor.checksAtOnce}},
        {"monitor", "flap_start", std::int64_t{s.monitor.flapStart}},
        {"monitor", "flap_stop", std::int64_t{s.monitor.flapStop}},
        {"monitor", "mutes", mutesArray(s.monitor.mutes)},
        {"desktop", "notifications", s.desktop.notifications},
        {"desktop", "tray", s.desktop.tray},
        {"desktop", "close_to_tray", s.desktop.closeToTray},
        {"metrics", "listen", s.metrics.listen},
        {"history", "enabled", s.history.enabled},
        {"history", "path", s.history.path},
        {"history", "keep_checks_days", std::int64_t{s.history.keepChecksDays}},
        {"history", "keep_minutes_days", std::int64_t{s.history.keepMinutesDays}},
        {"history", "keep_hours_days", std::int64_t{s.history.keepHoursDays}},
    };
}

// The keys whose values differ, in the order above, so those of a section come together.
std::vector<Entry> changedEntries(const Settings& before, const Settings& after) {
    const std::vector<Entry> was = entriesOf(before);
    std::vector<Entry> now = entriesOf(after);
    std::vector<Entry> changed;
    for (std::size_t i = 0; i < now.size(); ++i) {
        if (!(now[i].value == was[i].value)) {
            changed.push_back(std::move(now[i]));
        }
    }
    return changed;
}

std::string rendered(const KeyValue& value);

// A list on one line, its tables inline: [{ host = "gw", until = 2026-12-09T21:00:00Z }].
std::string renderedList(const toml::array& list) {
    std::string out = "[";
    for (const toml::node& element : list) {
        out += out.size() > 1 ? ", {" : "{";
        const char* sep = " ";
        for (const auto& [key, node] : *element.as_table()) {
            std::ostringstream v;
            if (node.is_string()) {
                v << rendered(KeyValue{node.as_string()->get()});
            } else {
                v << node.as_date_time()->get();
            }
            out += sep + std::string(key.str()) + " = " + v.str();
            sep = ", ";
        }
        out += " }";
    }
    return out + "]";
}

// A text is always written in double quotes, as the owner would write it by hand.
std::string rendered(const KeyValue& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) {
        return std::to_string(*n);
    }
    if (const auto* b = std::get_if<bool>(&value)) {
        return *b ? "true" : "false";
    }
    if (const auto* list = std::get_if<toml::array>(&value)) {
        return renderedList(*list);
    }
    return tomlQuoted(std::get<std::string>(value));
}

struct Edit {
    std::size_t at;
    std::size_t erase;
    std::string insert;
};

// The text with each changed value replaced where it stands, a missing key added after the
// last value of its section and a missing section added at the end; nothing else moves.
// Whether the result means what it should is for the caller to check.
std::optional<std::string> editedInPlace(std::string_view original, const toml::table& root,
                                         const std::vector<Entry>& changed) {
    const std::string eol = original.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::string text(original);
    if (!text.empty() && text.back() != '\n') {
        text += eol;
    }
    const Lines lines(text);
    std::vector<Edit> edits;
    std::string appended;
    std::string_view appendedSection;
    for (const Entry& e : changed) {
        const std::string assignment = std::string(e.key) + " = " + rendered(e.value) + eol;
        const toml::node* section = root.get(e.section);
        if (section == nullptr) {
            if (appendedSection != e.section) {
                appended += (text.empty() && appended.empty() ? "" : eol) + "[" + e.section + "]" + eol;
                appendedSection = e.section;
            }
            appended += assignment;
            continue;
        }
        if (!section->is_table() || section->as_table()->is_inline()) {
            return std::nullopt;
        }
        const toml::table& t = *section->as_table();
        if (const toml::node* old = t.get(e.key)) {
            const std::size_t from = lines.offset(old->source().begin);
            const std::size_t to = lines.offset(old->source().end);
            if (to < from) {
                return std::nullopt;
            }
            edits.push_back({from, to - from, rendered(e.value)});
            continue;
        }
        std::size_t last = t.source().begin.line;
        for (const auto& [key, node] : t) {
            if (!node.is_table() && !node.is_array_of_tables()) {
                last = std::max<std::size_t>(last, node.source().end.line);
            }
        }
        edits.push_back({lines.after(last), 0, assignment});
    }
    std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });
    std::string out;
    std::size_t done = 0;
    for (const Edit& edit : edits) {
        if (edit.at < done || edit.erase > text.size() - edit.at) {
            return std::nullopt;
        }
        out.append(text, done, edit.at - done);
        out += edit.insert;
        done = edit.at + edit.erase;
    }
    out.append(text, done);
    return out + appended;
}

}  // namespace

bool decodeSettings(std::string_view text, const std::string& path, Settings& settings, std::string& error,
                    std::vector<ChannelProblem>* problems) {
    Settings read;
    std::vector<ChannelProblem> unusable;
    try {
        const toml::table table = toml::parse(text, path);
        Reader r(table);
        readMail(r, read.mail);
        readMonitor(r, read.monitor);
        readDesktop(r, read.desktop);
        readMetrics(r, read.metrics);
        readHistory(r, read.history);
        readChannels(table, path, read.channels, unusable);
    } catch (const toml::parse_error& e) {
        error = parseErrorText(text, path, e);
        return false;
    } catch (const BadValue& e) {
        error = located(path, e.where.begin.line, e.what);
        return false;
    }
    settings = std::move(read);
    if (problems != nullptr) {
        *problems = std::move(unusable);
    }
    return true;
}

namespace {

bool mergeKeys(std::string_view text, const std::string& path, const Settings& before, const Settings& after,
               std::string& merged, std::string& error) {
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error& e) {
        error = parseErrorText(text, path, e);
        return false;
    }
    const std::vector<Entry> changed = changedEntries(before, after);
    if (changed.empty()) {
        merged.assign(text);
        return true;
    }
    toml::table expected = root;
    for (const Entry& e : changed) {
        toml::node* section = expected.get(e.section);
        if (section == nullptr || !section->is_table()) {
            section = &expected.insert_or_assign(e.section, toml::table{}).first->second;
        }
        std::visit([&](const auto& v) { section->as_table()->insert_or_assign(e.key, v); }, e.value);
    }
    if (std::optional<std::string> edited = editedInPlace(text, root, changed)) {
        try {
            if (toml::parse(*edited, path) == expected) {
                merged = std::move(*edited);
                return true;
            }
        } catch (const toml::parse_error&) {
        }
    }
    // A layout the line edit cannot follow (an inline table, dotted keys): the table is
    // written out whole, with every key kept but the comments lost.
    std::ostringstream out;
    out << expected << '\n';
    try {
        (void)toml::parse(out.str(), path);
    } catch (const toml::parse_error&) {
        error = path + ": the changed settings cannot be written into this file";
        return false;
    }
    merged = out.str();
    return true;
}

}  // namespace

bool mergeSettings(std::string_view text, const std::string& path, const Settings& before,
                   const Settings& after, std::string& merged, std::string& error) {
    if (!mergeKeys(text, path, before, after, merged, error)) {
        return false;
    }
    if (before.channels == after.channels) {
        return true;
    }
    std::string withChannels;
    if (!rewriteChannels(merged, path, after.channels, withChannels, error)) {
        return false;
    }
    merged = std::move(withChannels);
    return true;
}

bool SettingsFile::load(const std::string& path) {
    fileName = path;
    errorText.clear();
    settings = Settings{};
    read_ = Settings{};
    channelProblems.clear();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        return true;
    }
    std::string bytes;
    if (!readWholeFile(path, bytes)) {
        errorText = path + ": the file cannot be read";
        return false;
    }
    if (!decodeSettings(bytes, path, settings, errorText, &channelProblems)) {
        return false;
    }
    read_ = settings;
    return true;
}

bool SettingsFile::save() {
    // The file as it is now, not as it was read: another program or the owner's editor may
    // have changed it since.
    std::string text;
    std::error_code ec;
    if (std::filesystem::exists(fileName, ec) && !readWholeFile(fileName, text)) {
        errorText = fileName + ": the file cannot be read, so the changed settings were not written";
        return false;
    }
    std::string merged;
    if (!mergeSettings(text, fileName, read_, settings, merged, errorText)) {
        errorText += "; the changed settings were not written";
        return false;
    }
    if (merged != text) {
        std::string reason;
        if (!makeParentFolders(fileName) ||
            writeFileReplacing(fileName, merged, reason, kOwnerOnly) != WriteResult::Ok) {
            errorText =
                fileName + ": " + (reason.empty() ? std::string("the folder cannot be created") : reason);
            return false;
        }
    }
    read_ = settings;
    errorText.clear();
    return true;
}

std::string settingsPathBeside(const std::string& configPath) {
    return (std::filesystem::path(configPath).parent_path() / "settings.toml").string();
}
