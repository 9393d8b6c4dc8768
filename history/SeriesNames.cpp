#include "history/SeriesNames.h"

#include <filesystem>
#include <map>

#include "core/HostLabels.h"
#include "core/Utf8Text.h"

std::string documentKey(const std::string& fileName) {
    if (fileName.empty()) {
        return {};
    }
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(fileName, ec);
    return ec ? fileName : p.string();
}

SeriesKey seriesKeyOf(const std::string& document, const ServerItem& item) {
    const HostLabels l = labelsOf(item);
    SeriesKey k{document, l.name, l.type, l.address, 1};
    if (item.type == HostTcpIp) {
        k.address += ":" + std::to_string(item.tcpPort);
    } else if (item.type != HostPing) {
        k.address += "/" + asUtf8(cutAtNul(item.service));
    }
    return k;
}

std::vector<SeriesKey> seriesKeys(const std::string& document, const std::vector<ServerItem>& items) {
    std::vector<SeriesKey> out;
    out.reserve(items.size());
    std::map<std::tuple<std::string, std::string, std::string>, std::int32_t> seen;
    for (const ServerItem& item : items) {
        SeriesKey k = seriesKeyOf(document, item);
        k.twin = ++seen[{k.name, k.type, k.address}];
        out.push_back(std::move(k));
    }
    return out;
}

const char* defaultFailureText(const std::string& type) {
    return type == "ping" ? "Request Timed Out" : type == "tcp" ? "Connection Failed" : "Service not running";
}
