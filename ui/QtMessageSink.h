// Alert message boxes asked for by the monitor thread: queued to the GUI thread in call
// order and shown modeless, one box per message, so monitoring never waits for someone to
// press OK. The boxes stand on their own rather than belong to the main window, so a window
// manager that hides a minimised window's dialogs still shows them: a monitor is usually
// minimised exactly when a host goes down.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <mutex>
#include <string>
#include <vector>

#include "platform/MessageSink.h"

class QtMessageSink : public QObject, public MessageSink {
    Q_OBJECT
  public:
    explicit QtMessageSink(QObject* parent = nullptr);
    // Closes the boxes still open: they belong to no window that would.
    ~QtMessageSink() override;

    void showMessageAsync(const std::string& text) override;
    // Shows what is pending now (GUI thread).
    void flush();

  private:
    std::mutex mutex_;
    std::vector<std::string> pending_;
    bool flushQueued_ = false;
    std::vector<QPointer<QMessageBox>> open_;
};
