#include "ui/QtMessageSink.h"

#include <algorithm>

#include "ui/DisplayText.h"
#include "ui/MessageBox.h"

QtMessageSink::QtMessageSink(QObject* parent) : QObject(parent) {}

QtMessageSink::~QtMessageSink() {
    for (const QPointer<QMessageBox>& box : open_) {
        delete box.data();
    }
}

void QtMessageSink::showMessageAsync(const std::string& text) {
    std::lock_guard lock(mutex_);
    pending_.push_back(text);
    if (!flushQueued_) {
        flushQueued_ = true;
        QMetaObject::invokeMethod(this, &QtMessageSink::flush, Qt::QueuedConnection);
    }
}

void QtMessageSink::flush() {
    std::vector<std::string> texts;
    {
        std::lock_guard lock(mutex_);
        texts.swap(pending_);
        flushQueued_ = false;
    }
    open_.erase(std::remove_if(open_.begin(), open_.end(), [](const auto& box) { return box.isNull(); }),
                open_.end());
    for (const std::string& t : texts) {
        if (QMessageBox* box = MessageBox::alert(displayText(t))) {
            open_.emplace_back(box);
        }
    }
}
