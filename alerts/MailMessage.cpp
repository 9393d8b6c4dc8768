#include "alerts/MailMessage.h"

#include <algorithm>
#include <cctype>

namespace {

bool sameNameIgnoringCase(const std::string& line, const std::string& name) {
    const std::size_t colon = line.find(':');
    const std::string lineName = line.substr(0, colon);
    return lineName.size() == name.size() &&
           std::equal(lineName.begin(), lineName.end(), name.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// The entries fit for a header line and an envelope command.
std::vector<std::string> usable(const std::vector<std::string>& entries) {
    std::vector<std::string> out;
    for (const std::string& e : entries) {
        if (!hasLineBreak(e)) {
            out.push_back(e);
        }
    }
    return out;
}

std::string joined(const std::vector<std::string>& entries) {
    std::string out;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (i > 0) {
            out += ',';
        }
        out += entries[i];
    }
    return out;
}

const char* contentTypePrefix(TMailSubType subType) {
    switch (subType) {
        case stEnriched:
            return "Content-Type: text/enriched; charset=";
        case stSgml:
            return "Content-Type: text/sgml; charset=";
        case stTabSeparated:
            return "Content-Type: text/tab-separated-values; charset=";
        case stHtml:
            return "Content-Type: text/html; charset=";
        case stPlain:
        default:
            return "Content-Type: text/plain; charset=";
    }
}

}  // namespace

void THeaderList::SetValue(const std::string& name, const std::string& value) {
    const auto it = std::find_if(lines_.begin(), lines_.end(),
                                 [&](const std::string& line) { return sameNameIgnoringCase(line, name); });
    if (value.empty()) {
        if (it != lines_.end()) {
            lines_.erase(it);
        }
        return;
    }
    std::string line = name + ": " + value;
    if (it != lines_.end()) {
        *it = std::move(line);
    } else {
        lines_.push_back(std::move(line));
    }
}

std::string cleanHeaderValue(const std::string& value) {
    std::string out = value;
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return out;
}

bool hasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

std::string withoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    return line;
}

std::string ExtractAddress(const std::string& entry) {
    const std::size_t lt = entry.find('<');
    if (lt != std::string::npos) {
        const std::size_t gt = entry.find('>', lt + 1);
        return entry.substr(lt + 1, gt == std::string::npos ? std::string::npos : gt - lt - 1);
    }
    const std::size_t colon = entry.find(':');
    if (colon != std::string::npos) {
        const std::size_t next = entry.find(':', colon + 1);
        return entry.substr(colon + 1, next == std::string::npos ? std::string::npos : next - colon - 1);
    }
    return entry;
}

std::vector<std::string> bodyLines(const std::string& entry) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < entry.size(); ++i) {
        const char c = entry[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < entry.size() && entry[i + 1] == '\n') {
                ++i;
            }
        } else {
            current += c;
        }
    }
    lines.push_back(std::move(current));
    return lines;
}

void assembleMail(const TMailMessage& message, TMailSubType subType, const std::string& charset,
                  THeaderList& header, std::string& body) {
    header.Clear();
    header.Add("From: " + cleanHeaderValue(message.FromName) + "<" + cleanHeaderValue(message.FromAddress) +
               ">");
    const std::vector<std::string> to = usable(message.ToAddress);
    if (!to.empty()) {
        header.Add("To: " + joined(to));
    }
    const std::vector<std::string> cc = usable(message.ToCarbonCopy);
    if (!cc.empty()) {
        header.Add("CC: " + joined(cc));
    }
    header.SetValue("Subject", cleanHeaderValue(message.Subject));
    header.SetValue("X-Mailer", cleanHeaderValue(message.LocalProgram));
    if (!message.ReplyTo.empty()) {
        header.SetValue("Reply-To", cleanHeaderValue(message.ReplyTo));
    }
    if (!message.Date.empty()) {
        header.SetValue("Date", cleanHeaderValue(message.Date));
    }
    header.Add("Mime-Version: 1.0");
    header.Add(contentTypePrefix(subType) + cleanHeaderValue(charset));

    body.clear();
    for (const std::string& entry : message.Body) {
        for (const std::string& line : bodyLines(entry)) {
            if (!line.empty() && line.front() == '.') {
                body += '.';
            }
            body += line;
            body += "\r\n";
        }
    }
}

std::string headerBlock(const THeaderList& header) {
    std::string out;
    for (const std::string& line : header.Lines()) {
        out += line;
        out += "\r\n";
    }
    out += "\r\n\r\n";
    return out;
}

bool headerComplete(const TMailMessage& message) {
    if (message.FromAddress.empty()) {
        return false;
    }
    return !usable(message.ToAddress).empty() || !usable(message.ToCarbonCopy).empty() ||
           !usable(message.ToBlindCarbonCopy).empty();
}
