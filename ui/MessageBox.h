// Every message box of the program goes through here: caption "Kestrune Vardomon", a single
// OK button, or Yes and No for a question. Tests queue the answers and read what was shown,
// so no test ever waits in a modal loop.
#pragma once

#include <QString>
#include <QStringList>

class QMessageBox;
class QWidget;

class MessageBox {
  public:
    enum Answer { Ok, Yes, No };

    // OK only.
    static void information(QWidget* parent, const QString& text);
    // A box without a caption of its own (the desktop's default title), OK only.
    static void untitled(QWidget* parent, const QString& text);
    // Yes and No; true for Yes.
    static bool question(QWidget* parent, const QString& text);
    // An error: the error icon, OK only.
    static void error(QWidget* parent, const QString& text);
    // An alert: the warning icon, OK only, without blocking. The box is a window of its own,
    // not a dialog of any other window, stays open on its own and deletes itself when closed;
    // it does not keep the program running. Returns the box (null while testing) at once.
    static QMessageBox* alert(const QString& text);

    // Test hooks. While test mode is on, no box is shown: each takes the next queued answer
    // (or OK for a message, No for a question when none is queued) and its text is recorded.
    static void setTestMode(bool on);
    static void setNextAnswer(Answer answer);
    static QStringList shownTexts();
    static void clearShown();
};
