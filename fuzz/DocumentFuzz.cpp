// Feeds arbitrary bytes to the document reader. A read must never go past the input, and
// since every record takes at least its minimum size from the input, the records it
// accepts can never outnumber what the bytes hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/CheckSettings.h"
#include "storage/DocumentFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ServerItem> items;
    DocumentExtras extras;
    std::string error;
    if (decodeDocument(bytes, items, extras, error)) {
        if (extras.hosts.size() != items.size() || (extras.damaged && !extras.hosts.empty() &&
                                                    !extras.hosts.front().empty())) {
            std::abort();
        }
        // Extended settings that were read are written and read back as they were.
        std::vector<ServerItem> sameItems;
        DocumentExtras same;
        if (!decodeDocument(encodeDocument(items, extras.hosts), sameItems, same, error) || same.damaged ||
            same.hosts != extras.hosts) {
            std::abort();
        }
        // The web and TLS settings of every host read from any value, and a host's settings
        // written back are read as the same.
        for (const HostExtras& host : extras.hosts) {
            HttpSettings http = httpSettingsOf(host);
            TlsSettings tls = tlsSettingsOf(host);
            parseStatusList(http.status);
            headerLines(http.headers);
            HostExtras stored = host;
            storeHttpSettings(stored, http);
            storeTlsSettings(stored, tls);
            const HttpSettings httpBack = httpSettingsOf(stored);
            if (httpBack.status != http.status || httpBack.redirects != http.redirects ||
                httpBack.method != http.method || tlsSettingsOf(stored).warnDays != tls.warnDays) {
                std::abort();
            }
        }
        if (items.size() * kMinRecordSize > size) {
            std::abort();
        }
        // A file the program writes reads back as the records it was written from. (What
        // was read may differ from its own rewrite once: a text that begins with a NUL reads
        // as empty, and an empty text writes as a count of 0, which reads as the default.)
        std::vector<ServerItem> written;
        std::vector<ServerItem> again;
        if (!decodeDocument(encodeDocument(items), written, error) ||
            !decodeDocument(encodeDocument(written), again, error) || again != written) {
            std::abort();
        }
    } else if (!items.empty() || error.empty()) {
        std::abort();
    }
    return 0;
}
