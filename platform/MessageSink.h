// Message boxes shown on behalf of a worker thread (alert messages, the log file test). The
// window implements it with a modeless box on the GUI thread, caption "Kestrune Vardomon",
// OK only; the call returns at once and boxes appear in call order.
#pragma once

#include <string>

// The transition an alert tells of.
enum class AlertKind { Up, Down };

class MessageSink {
  public:
    virtual ~MessageSink() = default;
    virtual void showMessageAsync(const std::string& text) = 0;
    // The message box of a host's transition: the same box as showMessageAsync's. A front end
    // that can also tell the desktop (a notification) learns here what the box is about.
    virtual void showAlert(AlertKind kind, const std::string& hostName, const std::string& text) {
        (void)kind;
        (void)hostName;
        showMessageAsync(text);
    }
};
