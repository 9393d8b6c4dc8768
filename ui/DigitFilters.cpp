#include "ui/DigitFilters.h"

#include <QKeyEvent>
#include <QLineEdit>

QString digitsOnly(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
            out.append(c);
        }
    }
    return out;
}

DigitKeyFilter::DigitKeyFilter(QLineEdit* edit) : QObject(edit) {
    edit->installEventFilter(this);
}

bool DigitKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress) {
        return QObject::eventFilter(watched, event);
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
        // Keys that move the caret, delete forward, leave the edit or go to the dialog
        // type no character.
        case Qt::Key_Backspace:
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Delete:
        case Qt::Key_Tab:
        case Qt::Key_Backtab:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            return false;
        default:
            break;
    }
    const QString text = key->text();
    const bool plainDigit = text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9') &&
                            !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    // Every other typed character is dropped, control characters (Ctrl+V and friends)
    // included.
    return !plainDigit;
}

void installDigitTextFilter(QLineEdit* edit) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString& text) {
        const QString digits = digitsOnly(text);
        if (digits != text) {
            const int removedBeforeCursor =
                static_cast<int>(text.left(edit->cursorPosition()).size() -
                                 digitsOnly(text.left(edit->cursorPosition())).size());
            const int cursor = edit->cursorPosition() - removedBeforeCursor;
            edit->setText(digits);
            edit->setCursorPosition(cursor);
        }
    });
}
