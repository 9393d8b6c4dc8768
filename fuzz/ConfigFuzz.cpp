// Feeds arbitrary bytes to the configuration reader: a failed read changes nothing, a
// successful one saves and reads back to the same settings.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "storage/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ServerCfg cfg;
    std::string error;
    if (decodeConfig(bytes, cfg, error)) {
        ServerCfg again;
        if (!decodeConfig(encodeConfig(cfg), again, error) || !(again == cfg)) {
            std::abort();
        }
    } else if (!(cfg == ServerCfg{}) || error.empty()) {
        std::abort();
    }
    return 0;
}
