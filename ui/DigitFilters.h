// The two ways an edit keeps to digits: a key filter that lets only the digit keys and
// Backspace through (text can still be pasted from the context menu), and a text filter
// that strips every non-digit after each change (so typed or pasted letters vanish at once).
#pragma once

#include <QObject>
#include <QString>

class QLineEdit;

// The ASCII digits of text, in their order.
QString digitsOnly(const QString& text);

class DigitKeyFilter : public QObject {
    Q_OBJECT
  public:
    explicit DigitKeyFilter(QLineEdit* edit);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

// After every change of edit's text, puts back only its digits.
void installDigitTextFilter(QLineEdit* edit);
