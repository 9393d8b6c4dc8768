// Work that may wait a while (a machine over the network), done without freezing the
// windows: it runs on a thread of its own while the calling GUI thread goes on handling
// events, under a busy cursor.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <exception>
#include <optional>
#include <thread>
#include <utility>

// Returns what work returns, once it has ended; what it throws is thrown here. The events
// handled meanwhile may do anything but wait for work themselves: the caller keeps them from
// it (a disabled button, say).
template <typename Work>
auto callWhileBusy(Work work) -> decltype(work()) {
    std::optional<decltype(work())> result;
    std::exception_ptr error;
    QEventLoop loop;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    {
        // Joined however the loop ends, so work never outlives what it refers to.
        std::jthread worker([&] {
            try {
                result.emplace(work());
            } catch (...) {
                error = std::current_exception();
            }
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        loop.exec();
    }
    QApplication::restoreOverrideCursor();
    if (error) {
        std::rethrow_exception(error);
    }
    return std::move(*result);
}
