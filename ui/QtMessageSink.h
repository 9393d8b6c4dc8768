// Alert message boxes asked for by the monitor thread: queued to the GUI thread in call
// order and shown modeless, one box per message, so monitoring never waits for someone to
// press OK. The boxes stand on their own rather than belong to the main window, so a window
// manager that hides a minimised window's dialogs still shows them: a monitor is usually
// minimised exactly when a host goes down. Beside the box of a host's transition the desktop
// can be told too, through a notification.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/MessageSink.h"

class DesktopNotifier;

class QtMessageSink : public QObject, public MessageSink {
    Q_OBJECT
  public:
    explicit QtMessageSink(QObject* parent = nullptr);
    // Closes the boxes still open: they belong to no window that would.
    ~QtMessageSink() override;

    void showMessageAsync(const std::string& text) override;
    // The box, and a notification while wanted() says so (asked on the GUI thread).
    void showAlert(AlertKind kind, const std::string& hostName, const std::string& text) override;
    // Set before the first alert; the notifier must outlive the sink.
    void setNotifier(DesktopNotifier* notifier, std::function<bool()> wanted);
    // Shows what is pending now (GUI thread).
    void flush();

  private:
    struct Pending {
        std::string text;
        // Set for the box of a transition.
        std::optional<AlertKind> kind;
        std::string hostName;
    };

    void queue(Pending p);

    DesktopNotifier* notifier_ = nullptr;
    std::function<bool()> wanted_;
    std::mutex mutex_;
    std::vector<Pending> pending_;
    bool flushQueued_ = false;
    std::vector<QPointer<QMessageBox>> open_;
};
