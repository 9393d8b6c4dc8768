#include "metrics/RequestHead.h"

#include <algorithm>

RequestHead::State RequestHead::feed(std::string_view piece) {
    if (state_ != State::Incomplete) {
        return state_;
    }
    // The empty line may begin in an earlier piece.
    const std::size_t from = bytes_.size() < 3 ? 0 : bytes_.size() - 3;
    bytes_.append(piece.substr(0, std::min(piece.size(), limit_ - bytes_.size())));
    const std::string_view seen(bytes_);
    // A bare LF ends the head as well: the parser then refuses the request at once
    // instead of the client waiting out the time limit.
    const std::size_t crlf = seen.find("\r\n\r\n", from);
    const std::size_t lf = seen.find("\n\n", from);
    if (crlf != std::string_view::npos || lf != std::string_view::npos) {
        state_ = State::Complete;
    } else if (bytes_.size() >= limit_) {
        state_ = State::TooLarge;
    }
    return state_;
}
