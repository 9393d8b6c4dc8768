// The metrics server's request handling: a request head that arrives in pieces of any size
// is kept within its limit, and a complete one is answered by the HTTP parser and router
// with a whole response (or none, when it is no request at all).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "metrics/MetricsHttp.h"
#include "metrics/RequestHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t kLimit = 1024;
    static MetricsHttp http([] { return std::string("vardomon_monitor_running 1\n"); });
    if (size == 0) {
        return 0;
    }
    // The first byte sets the size of the pieces the rest arrives in.
    const std::size_t piece = 1 + data[0] % 64;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    RequestHead head(kLimit);
    RequestHead::State state = RequestHead::State::Incomplete;
    while (!rest.empty() && state == RequestHead::State::Incomplete) {
        state = head.feed(rest.substr(0, piece));
        rest.remove_prefix(std::min(piece, rest.size()));
    }
    if (head.bytes().size() > kLimit) {
        std::abort();
    }
    if (state == RequestHead::State::Complete) {
        const std::string answer = http.answer(head.bytes());
        if (!answer.empty() && !answer.starts_with("HTTP/1.1 ")) {
            std::abort();
        }
    }
    return 0;
}
