#include "ui/DisplayText.h"

#include "core/Utf8Text.h"

QString displayText(const std::string& bytes) {
    return QString::fromStdString(asUtf8(bytes));
}

QString displayMemo(const std::string& bytes) {
    QString text = displayText(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

std::string storedText(const QString& now, const QString& shown, const std::string& bytes) {
    return now == shown ? bytes : now.toStdString();
}

std::string storedMemo(const QString& now, const QString& shown, const std::string& bytes) {
    if (now == shown) {
        return bytes;
    }
    QString text = now;
    text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
    return text.toStdString();
}
