// Reads an EHLO reply of arbitrary bytes, cut into lines at each line feed. Nothing may be
// read past a line, and a capability is only ever found where the reply names it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/SmtpCapabilities.h"

namespace {

// Whether a line after the first holds the word, in any case.
bool named(const std::vector<std::string>& lines, std::string_view word) {
    for (std::size_t n = 1; n < lines.size(); ++n) {
        std::string upper = lines[n];
        for (char& c : upper) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
        }
        if (upper.find(word) != std::string::npos) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find('\n', start);
        const std::size_t stop = end == std::string_view::npos ? bytes.size() : end + 1;
        lines.emplace_back(bytes.substr(start, stop - start));
        start = stop;
    }
    const SmtpCapabilities caps = parseEhloReply(lines);
    if ((caps.startTls && !named(lines, "STARTTLS")) ||
        ((caps.authPlain || caps.authLogin) && !named(lines, "AUTH")) ||
        (caps.authPlain && !named(lines, "PLAIN")) || (caps.authLogin && !named(lines, "LOGIN"))) {
        std::abort();
    }
    if (!(parseEhloReply(lines) == caps)) {
        std::abort();
    }
    return 0;
}
