#include "core/HostLabels.h"

#include <unordered_map>

#include "core/Utf8Text.h"

HostLabels labelsOf(const ServerItem& item) {
    HostLabels l;
    l.name = asUtf8(cutAtNul(item.name));
    l.address = asUtf8(cutAtNul(item.address));
    // The monitor checks every type it does not know as a service.
    l.type = item.type == HostTcpIp  ? (item.tcpType == TcpHttpRequest ? "http" : "tcp")
             : item.type == HostPing ? "ping"
                                     : "service";
    return l;
}

std::string escapeLabelValue(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::vector<std::string> labelSets(const std::vector<HostLabels>& labels) {
    std::vector<std::string> out;
    out.reserve(labels.size());
    std::unordered_map<std::string, int> seen;
    for (const HostLabels& l : labels) {
        std::string set = "{name=\"" + escapeLabelValue(l.name) + "\",address=\"" +
                          escapeLabelValue(l.address) + "\",type=\"" + l.type + "\"";
        const int copies = ++seen[set];
        if (copies > 1) {
            set += ",duplicate=\"" + std::to_string(copies) + "\"";
        }
        set += "} ";
        out.push_back(std::move(set));
    }
    return out;
}
