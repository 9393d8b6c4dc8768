// Alert message boxes asked for by the monitor thread: queued to the GUI thread in call
// order and shown modeless, so monitoring never waits for someone to press OK. A burst of
// messages (many hosts going down in one cycle) is gathered into one box rather than
// flooding the desktop with windows.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessageSink.h"

class QtMessageSink : public QObject, public MessageSink {
    Q_OBJECT
  public:
    explicit QtMessageSink(QWidget* window);

    void showMessageAsync(const std::string& text) override;
    // Shows what is pending now (GUI thread).
    void flush();

    // More messages than this in one batch are shown together in one box.
    static constexpr std::size_t kMaxBoxesPerBatch = 5;

  private:
    QPointer<QWidget> window_;
    std::mutex mutex_;
    std::vector<std::string> pending_;
    bool flushQueued_ = false;
};
