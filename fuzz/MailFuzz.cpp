// Builds mail from arbitrary texts, as host records and settings may hold them. Whatever
// the texts, a header line never carries a line break of its own, and no body line can end
// the data phase early.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "alerts/MailMessage.h"

namespace {

// Splits the input at 0x1F into the message's texts.
std::string nextField(std::string_view& rest) {
    const std::size_t cut = rest.find('\x1F');
    std::string field(rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
    return field;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    TMailMessage message;
    message.FromName = nextField(rest);
    message.FromAddress = nextField(rest);
    message.Subject = nextField(rest);
    message.ToAddress = {nextField(rest), nextField(rest)};
    message.Body = {nextField(rest), std::string(rest)};

    THeaderList header;
    std::string body;
    assembleMail(message, stPlain, "iso-8859-1", header, body);
    for (const std::string& line : header.Lines()) {
        if (hasLineBreak(line)) {
            std::abort();
        }
    }
    // The body is lines ending in CR LF; a lone "." line would end the data.
    if (!body.empty() && body.size() >= 2 && body.compare(body.size() - 2, 2, "\r\n") != 0) {
        std::abort();
    }
    std::size_t start = 0;
    while (start < body.size()) {
        const std::size_t end = body.find("\r\n", start);
        if (end == std::string::npos) {
            std::abort();
        }
        const std::string_view line(body.data() + start, end - start);
        if (line == "." || line.find('\r') != std::string_view::npos ||
            line.find('\n') != std::string_view::npos) {
            std::abort();
        }
        start = end + 2;
    }
    (void)ExtractAddress(message.ToAddress[0]);
    (void)headerBlock(header);
    return 0;
}
