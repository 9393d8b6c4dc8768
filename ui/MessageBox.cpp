#include "ui/MessageBox.h"

#include <QMessageBox>
#include <deque>

namespace {

struct TestHooks {
    bool on = false;
    std::deque<MessageBox::Answer> answers;
    QStringList shown;
};

TestHooks& hooks() {
    static TestHooks h;
    return h;
}

MessageBox::Answer scripted(const QString& text, MessageBox::Answer fallback) {
    TestHooks& h = hooks();
    h.shown.append(text);
    if (h.answers.empty()) {
        return fallback;
    }
    const MessageBox::Answer a = h.answers.front();
    h.answers.pop_front();
    return a;
}

bool testing() {
    return hooks().on || !hooks().answers.empty();
}

// The texts hold server replies, host names, templates and file names: markup in them is
// shown as typed, never rendered.
void showTextAsTyped(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
}

}  // namespace

void MessageBox::information(QWidget* parent, const QString& text) {
    if (testing()) {
        scripted(text, Ok);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Kestrune Vardomon"), text, QMessageBox::Ok, parent);
    showTextAsTyped(box);
    box.exec();
}

void MessageBox::untitled(QWidget* parent, const QString& text) {
    if (testing()) {
        scripted(text, Ok);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, parent);
    showTextAsTyped(box);
    box.exec();
}

bool MessageBox::question(QWidget* parent, const QString& text) {
    if (testing()) {
        return scripted(text, No) == Yes;
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Kestrune Vardomon"), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    showTextAsTyped(box);
    return box.exec() == QMessageBox::Yes;
}

void MessageBox::error(QWidget* parent, const QString& text) {
    if (testing()) {
        scripted(text, Ok);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Kestrune Vardomon"), text, QMessageBox::Ok,
                    parent);
    showTextAsTyped(box);
    box.exec();
}

QMessageBox* MessageBox::alert(const QString& text) {
    if (testing()) {
        scripted(text, Ok);
        return nullptr;
    }
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Kestrune Vardomon"), text, QMessageBox::Ok);
    // Owned by Qt from here: the box deletes itself when it is closed.
    showTextAsTyped(*box);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setAttribute(Qt::WA_QuitOnClose, false);
    box->setModal(false);
    box->show();
    return box;
}

void MessageBox::setTestMode(bool on) {
    hooks().on = on;
}
void MessageBox::setNextAnswer(Answer answer) {
    hooks().answers.push_back(answer);
}
QStringList MessageBox::shownTexts() {
    return hooks().shown;
}
void MessageBox::clearShown() {
    hooks().shown.clear();
    hooks().answers.clear();
}
