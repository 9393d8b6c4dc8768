// Feeds arbitrary bytes to the document reader. A read must never go past the input, and
// since every record takes at least its minimum size from the input, the records it
// accepts can never outnumber what the bytes hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "storage/DocumentFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<ServerItem> items;
    std::string error;
    if (decodeDocument(bytes, items, error)) {
        if (items.size() * kMinRecordSize > size) {
            std::abort();
        }
        // What was read writes back to the same records.
        std::vector<ServerItem> again;
        if (!decodeDocument(encodeDocument(items), again, error) || again != items) {
            std::abort();
        }
    } else if (!items.empty() || error.empty()) {
        std::abort();
    }
    return 0;
}
