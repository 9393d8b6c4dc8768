#include "ui/QtMessageSink.h"

#include <algorithm>

#include "ui/DesktopNotifier.h"
#include "ui/DisplayText.h"
#include "ui/MessageBox.h"

QtMessageSink::QtMessageSink(QObject* parent) : QObject(parent) {}

QtMessageSink::~QtMessageSink() {
    for (const QPointer<QMessageBox>& box : open_) {
        delete box.data();
    }
}

void QtMessageSink::setNotifier(DesktopNotifier* notifier, std::function<bool()> wanted) {
    notifier_ = notifier;
    wanted_ = std::move(wanted);
}

void QtMessageSink::showMessageAsync(const std::string& text) {
    queue(Pending{text, std::nullopt, {}});
}

void QtMessageSink::showAlert(AlertKind kind, const std::string& hostName, const std::string& text) {
    queue(Pending{text, kind, hostName});
}

void QtMessageSink::queue(Pending p) {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(p));
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &QtMessageSink::flush, Qt::QueuedConnection);
    }
}

void QtMessageSink::flush() {
    std::vector<Pending> pending;
    {
        std::lock_guard lock(mutex_);
        pending.swap(pending_);
        flushQueued_ = false;
    }
    open_.erase(std::remove_if(open_.begin(), open_.end(), [](const auto& box) { return box.isNull(); }),
                open_.end());
    for (const Pending& p : pending) {
        if (QMessageBox* box = MessageBox::alert(displayText(p.text))) {
            open_.emplace_back(box);
        }
        if (p.kind && notifier_ != nullptr && wanted_ && wanted_()) {
            const bool down = *p.kind == AlertKind::Down;
            notifier_->notify({(down ? QStringLiteral("Server Down: ") : QStringLiteral("Server Up: ")) +
                                   displayText(p.hostName),
                               displayMemo(p.text), down});
        }
    }
}
