// The head of one HTTP request (request line and header fields, up to the empty line) as
// it arrives in pieces, never kept beyond a fixed size: a client cannot make the server
// hold more than that, however much it sends.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class RequestHead {
  public:
    enum class State { Incomplete, Complete, TooLarge };

    explicit RequestHead(std::size_t limit) : limit_(limit) {}

    // Takes the bytes that arrived. Bytes that follow the head in the same piece are kept
    // with it (within the limit); nothing is taken once the head is complete or too large.
    State feed(std::string_view piece);
    State state() const { return state_; }
    // What was taken: the complete head, or the start of one.
    const std::string& bytes() const { return bytes_; }

  private:
    std::size_t limit_;
    std::string bytes_;
    State state_ = State::Incomplete;
};
