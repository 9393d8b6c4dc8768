#include "storage/ChannelEntries.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <set>

#include "core/ChannelRules.h"
#include "core/Utf8Text.h"

namespace {

// What is wrong with an entry, and at which node.
struct BadEntry {
    std::string what;
    const toml::node* where;
};

void text(const toml::table& t, const char* key, std::string& out) {
    if (const toml::node* n = t.get(key)) {
        if (!n->is_string()) {
            throw BadEntry{std::string(key) + " must be a text in double quotes", n};
        }
        out = n->as_string()->get();
    }
}

// A whole number that fits: the rules judge its range.
void whole(const toml::table& t, const char* key, std::optional<std::int32_t>& out) {
    if (const toml::node* n = t.get(key)) {
        if (!n->is_integer() || n->as_integer()->get() < std::numeric_limits<std::int32_t>::min() ||
            n->as_integer()->get() > std::numeric_limits<std::int32_t>::max()) {
            throw BadEntry{std::string(key) + " must be a whole number", n};
        }
        out = static_cast<std::int32_t>(n->as_integer()->get());
    }
}

void readHeaders(const toml::table& t, ChannelSettings& c) {
    const toml::node* n = t.get("headers");
    if (n == nullptr) {
        return;
    }
    if (!n->is_table()) {
        throw BadEntry{"headers must be a table of texts, such as { \"X-Team\" = \"ops\" }", n};
    }
    for (const auto& [key, value] : *n->as_table()) {
        if (!value.is_string()) {
            throw BadEntry{"headers must give each header a text", &value};
        }
        c.headers.emplace_back(std::string(key.str()), value.as_string()->get());
    }
}

void readHosts(const toml::table& t, ChannelSettings& c) {
    const toml::node* n = t.get("hosts");
    if (n == nullptr) {
        return;
    }
    const toml::array* list = n->as_array();
    if (list == nullptr) {
        throw BadEntry{"hosts must be a list of texts, such as [\"web-*\", \"db?\"]", n};
    }
    for (const toml::node& host : *list) {
        if (!host.is_string()) {
            throw BadEntry{"hosts must be a list of texts, such as [\"web-*\", \"db?\"]", &host};
        }
        c.hosts.push_back(host.as_string()->get());
    }
}

ChannelSettings readEntry(const toml::table& t) {
    ChannelSettings c;
    text(t, "name", c.name);
    const toml::node* kind = t.get("kind");
    if (kind == nullptr || !kind->is_string() || !channelKindNamed(kind->as_string()->get(), c.kind)) {
        throw BadEntry{"kind must be one of \"webhook\", \"ntfy\", \"gotify\", \"slack\", \"discord\", "
                       "\"telegram\", \"matrix\", \"pushover\"",
                       kind ? kind : &t};
    }
    text(t, "url", c.url);
    text(t, "token", c.token);
    text(t, "token_command", c.tokenCommand);
    text(t, "user", c.user);
    text(t, "room", c.room);
    if (const toml::node* n = t.get("chat_id")) {
        if (n->is_integer()) {
            c.chatId = std::to_string(n->as_integer()->get());
        } else if (n->is_string()) {
            c.chatId = n->as_string()->get();
        } else {
            throw BadEntry{"chat_id must be a number or a text", n};
        }
    }
    whole(t, "priority", c.priority);
    std::optional<std::int32_t> remind;
    whole(t, "remind_every_minutes", remind);
    c.remindEveryMinutes = remind.value_or(0);
    readHeaders(t, c);
    readHosts(t, c);
    if (const std::optional<ChannelFault> fault = channelFault(c)) {
        throw BadEntry{fault->what, t.get(fault->key) ? t.get(fault->key) : &t};
    }
    return c;
}

std::string rendered(const ChannelSettings& c, const std::string& eol) {
    std::string out = "[[channels]]" + eol;
    auto line = [&](const char* key, const std::string& value) { out += std::string(key) + " = " + value + eol; };
    auto textLine = [&](const char* key, const std::string& value) {
        if (!value.empty()) {
            line(key, tomlQuoted(value));
        }
    };
    line("name", tomlQuoted(c.name));
    line("kind", tomlQuoted(channelKindName(c.kind)));
    textLine("url", c.url);
    textLine("token", c.token);
    textLine("token_command", c.tokenCommand);
    textLine("user", c.user);
    if (!c.chatId.empty()) {
        line("chat_id", isWholeNumber(c.chatId) ? c.chatId : tomlQuoted(c.chatId));
    }
    textLine("room", c.room);
    if (c.priority) {
        line("priority", std::to_string(*c.priority));
    }
    if (!c.headers.empty()) {
        std::string table = "{ ";
        for (std::size_t i = 0; i < c.headers.size(); ++i) {
            table += (i ? ", " : "") + tomlQuoted(c.headers[i].first) + " = " + tomlQuoted(c.headers[i].second);
        }
        line("headers", table + " }");
    }
    if (!c.hosts.empty()) {
        std::string list = "[";
        for (std::size_t i = 0; i < c.hosts.size(); ++i) {
            list += (i ? ", " : "") + tomlQuoted(c.hosts[i]);
        }
        line("hosts", list + "]");
    }
    if (c.remindEveryMinutes != 0) {
        line("remind_every_minutes", std::to_string(c.remindEveryMinutes));
    }
    return out;
}

// The lines (from 1, both included) that an entry's header and keys take.
std::pair<std::size_t, std::size_t> linesOf(const toml::table& entry) {
    const std::size_t first = entry.source().begin.line;
    std::size_t last = first;
    for (const auto& [key, node] : entry) {
        last = std::max<std::size_t>(last, node.source().end.line);
    }
    return {first, last};
}

}  // namespace

std::string tomlQuoted(std::string_view value) {
    return quotedText(value);
}

void readChannels(const toml::table& root, const std::string& path, std::vector<ChannelSettings>& channels,
                  std::vector<ChannelProblem>& problems) {
    const toml::node* node = root.get("channels");
    if (node == nullptr) {
        return;
    }
    auto problem = [&](std::string name, const toml::node& where, const std::string& what) {
        problems.push_back({name, path + " line " + std::to_string(where.source().begin.line) + ": [[channels]]" +
                                      (name.empty() ? std::string() : " \"" + name + "\"") + ": " + what});
    };
    if (!node->is_array_of_tables()) {
        problem({}, *node, "channels must be written as [[channels]] tables");
        return;
    }
    std::set<std::string> names;
    for (const toml::node& element : *node->as_array()) {
        const toml::table& t = *element.as_table();
        std::string name;
        if (const toml::node* n = t.get("name"); n != nullptr && n->is_string()) {
            name = n->as_string()->get();
        }
        try {
            ChannelSettings c = readEntry(t);
            if (!names.insert(c.name).second) {
                throw BadEntry{"name is already taken by another channel", t.get("name")};
            }
            channels.push_back(std::move(c));
        } catch (const BadEntry& e) {
            problem(name, *e.where, e.what);
        }
    }
}

bool rewriteChannels(std::string_view text, const std::string& path, const std::vector<ChannelSettings>& channels,
                     std::string& out, std::string& error) {
    toml::table root;
    try {
        root = toml::parse(text, path);
    } catch (const toml::parse_error&) {
        error = path + ": not valid TOML";
        return false;
    }
    const std::string eol = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        lines.emplace_back(text.substr(at, next - at));
        at = next;
    }
    std::vector<bool> dropped(lines.size(), false);
    if (const toml::node* node = root.get("channels"); node != nullptr && node->is_array_of_tables()) {
        for (const toml::node& element : *node->as_array()) {
            try {
                (void)readEntry(*element.as_table());
            } catch (const BadEntry&) {
                continue;  // kept as the owner wrote it, to be mended by hand
            }
            const auto [first, last] = linesOf(*element.as_table());
            std::size_t line = first;
            for (; line <= last && line <= lines.size(); ++line) {
                dropped[line - 1] = true;
            }
            // With the blank lines after it, so saves one after another do not pile them up.
            for (; line <= lines.size() && lines[line - 1].find_first_not_of(" \t\r\n") == std::string::npos; ++line) {
                dropped[line - 1] = true;
            }
        }
    }
    out.clear();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!dropped[i]) {
            out += lines[i];
        }
    }
    if (!out.empty() && out.back() != '\n') {
        out += eol;
    }
    for (const ChannelSettings& c : channels) {
        out += (out.empty() ? "" : eol) + rendered(c, eol);
    }
    // The result must mean what it should, or the file stays as it is.
    std::vector<ChannelSettings> again;
    std::vector<ChannelProblem> problems;
    try {
        readChannels(toml::parse(out, path), path, again, problems);
    } catch (const toml::parse_error&) {
    }
    if (again != channels) {
        error = path + ": the changed channels cannot be written into this file";
        return false;
    }
    return true;
}
