#include "storage/DocumentTrailer.h"

#include <zlib.h>

#include <algorithm>

#include "storage/BinaryIO.h"

namespace {

std::uint32_t crcOf(std::string_view bytes) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt at a time.
    while (!bytes.empty()) {
        const auto step = static_cast<uInt>(std::min<std::size_t>(bytes.size(), 1u << 30));
        crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), step);
        bytes.remove_prefix(step);
    }
    return static_cast<std::uint32_t>(crc);
}

// Every key and value holds at least its 4-byte length.
constexpr std::size_t kMinPairSize = 8;

}  // namespace

std::string encodeTrailer(const std::vector<HostExtras>& hosts) {
    if (std::all_of(hosts.begin(), hosts.end(), [](const HostExtras& h) { return h.empty(); })) {
        return {};
    }
    ByteWriter w;
    for (const char c : kTrailerMagic) {
        w.putByte(static_cast<std::uint8_t>(c));
    }
    w.putU32(kTrailerVersion);
    w.putU32(static_cast<std::uint32_t>(hosts.size()));
    for (const HostExtras& host : hosts) {
        w.putU32(static_cast<std::uint32_t>(host.size()));
        for (const auto& [key, value] : host) {
            w.putString(key);
            w.putString(value);
        }
    }
    const std::uint32_t crc = crcOf(w.bytes());
    w.putU32(crc);
    return w.take();
}

TrailerRead decodeTrailer(std::string_view rest, std::size_t hostCount, std::vector<HostExtras>& hosts) {
    if (rest.substr(0, kTrailerMagic.size()) != kTrailerMagic) {
        return TrailerRead::Absent;
    }
    hosts.clear();
    // Bytes after a trailer whose CRC holds are ignored, as bytes after the records are
    // when there is no trailer.
    ByteReader r(rest.substr(kTrailerMagic.size()));
    std::uint32_t version = 0;
    std::uint32_t count = 0;
    if (!r.getU32(version) || version != kTrailerVersion || !r.getU32(count) || count != hostCount) {
        return TrailerRead::Damaged;
    }
    std::vector<HostExtras> read(hostCount);
    for (HostExtras& host : read) {
        std::uint32_t pairs = 0;
        if (!r.getU32(pairs) || pairs > r.remaining() / kMinPairSize) {
            return TrailerRead::Damaged;
        }
        for (std::uint32_t i = 0; i < pairs; ++i) {
            std::string key;
            std::string value;
            if (r.getString(key) != ByteReader::StringResult::Ok) {
                return TrailerRead::Damaged;
            }
            const auto valueRead = r.getString(value);
            if (valueRead != ByteReader::StringResult::Ok && valueRead != ByteReader::StringResult::Empty) {
                return TrailerRead::Damaged;
            }
            host[std::move(key)] = std::move(value);
        }
    }
    const std::size_t covered = rest.size() - r.remaining();
    std::uint32_t crc = 0;
    if (!r.getU32(crc) || crc != crcOf(rest.substr(0, covered))) {
        return TrailerRead::Damaged;
    }
    hosts = std::move(read);
    return TrailerRead::Read;
}
