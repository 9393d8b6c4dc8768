// Message boxes shown on behalf of a worker thread (alert messages, the log file test). The
// window implements it with a modeless box on the GUI thread, caption "Kestrune Vardomon",
// OK only; the call returns at once and boxes appear in call order.
#pragma once

#include <string>

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void showMessageAsync(const std::string& text) = 0;
};
