// Helpers for driving the windows in tests: answer a modal dialog as soon as it shows, find
// named children that must exist, and look for captions a window cuts or access keys it gives
// twice.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QMenuBar>
#include <QMultiMap>
#include <QStyle>
#include <QTabBar>
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

// The captions of labels, buttons, check boxes and tabs showing in window that get less room
// than their text needs.
inline QStringList cutCaptions(QWidget* window) {
    QStringList cut;
    auto check = [&](QWidget* w, const QString& text, QSize need) {
        if (!text.isEmpty() && w->isVisible() && (w->width() < need.width() || w->height() < need.height())) {
            cut.append(text);
        }
    };
    for (QLabel* l : window->findChildren<QLabel*>()) {
        check(l, l->text(), l->minimumSizeHint());
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        QSize need = b->minimumSizeHint();
        if (qobject_cast<QCheckBox*>(b) == nullptr) {
            // A push or tool button may be narrower than the style's usual width, not than
            // its caption.
            need.setWidth(b->fontMetrics().horizontalAdvance(QString(b->text()).remove(QLatin1Char('&'))) +
                          2 * b->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, b));
        }
        check(b, b->text(), need);
    }
    for (QTabBar* tabs : window->findChildren<QTabBar*>()) {
        for (int i = 0; tabs->isVisible() && i < tabs->count(); ++i) {
            if (!tabs->rect().contains(tabs->tabRect(i))) {
                cut.append(tabs->tabText(i));
            }
        }
    }
    return cut;
}

// The access keys (Alt and a letter) that more than one control showing in window answers
// to: menu titles, tabs, buttons and check boxes. Each clash reads "Alt+X: caption, caption".
inline QStringList clashingAccessKeys(QWidget* window) {
    QMultiMap<QString, QString> owners;
    auto note = [&](const QString& caption) {
        const QKeySequence key = QKeySequence::mnemonic(caption);
        if (!key.isEmpty()) {
            owners.insert(key.toString(), caption);
        }
    };
    for (QMenuBar* bar : window->findChildren<QMenuBar*>()) {
        for (QAction* a : bar->actions()) {
            note(a->text());
        }
    }
    for (QTabBar* tabs : window->findChildren<QTabBar*>()) {
        for (int i = 0; tabs->isVisible() && i < tabs->count(); ++i) {
            note(tabs->tabText(i));
        }
    }
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>()) {
        if (b->isVisible()) {
            note(b->text());
        }
    }
    QStringList clashes;
    for (const QString& key : owners.uniqueKeys()) {
        if (owners.count(key) > 1) {
            clashes.append(key + QStringLiteral(": ") + owners.values(key).join(QStringLiteral(", ")));
        }
    }
    return clashes;
}
