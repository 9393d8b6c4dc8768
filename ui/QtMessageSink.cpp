#include "ui/QtMessageSink.h"

#include <QStringList>

#include "ui/MessageBox.h"

QtMessageSink::QtMessageSink(QWidget* window) : QObject(window), window_(window) {}

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
    if (texts.size() <= kMaxBoxesPerBatch) {
        for (const std::string& t : texts) {
            MessageBox::modeless(window_, QString::fromStdString(t));
        }
        return;
    }
    QStringList all;
    for (const std::string& t : texts) {
        all.append(QString::fromStdString(t));
    }
    MessageBox::modeless(window_, all.join(QStringLiteral("\n\n")));
}
