// Helpers for driving the windows in tests: answer a modal dialog as soon as it shows, and
// find named children that must exist.
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

// Runs answer on the next modal dialog of type D once it is showing. Gives up after about
// five seconds so a test that never opens one fails instead of hanging.
template <typename D>
void onModal(std::function<void(D*)> answer) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
        if (auto* d = qobject_cast<D*>(QApplication::activeModalWidget()); d != nullptr && d->isVisible()) {
            timer->stop();
            timer->deleteLater();
            answer(d);
        } else if (++*tries > 1000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}

template <typename W>
W* child(QObject* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    if (w == nullptr) {
        qFatal("no child named %s", name);
    }
    return w;
}
