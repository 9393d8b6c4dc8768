// The program keeps its texts as bytes. Documents made on the original platform hold 8-bit
// Windows-1252 texts, newer ones UTF-8: a text that is valid UTF-8 shows as UTF-8, any other
// as Windows-1252. A field the user did not change keeps its bytes exactly, line ends
// included; a field the user edited is stored as UTF-8.
#pragma once

#include <QString>
#include <string>

// The text as the widgets show it.
QString displayText(const std::string& bytes);
// A multi-line text as a memo shows it: its CR LF line breaks become plain line breaks.
QString displayMemo(const std::string& bytes);

// What to store for a field that showed `shown` for `bytes` and now holds `now`: the bytes
// themselves when the user left the field as it was, else the new text in UTF-8.
std::string storedText(const QString& now, const QString& shown, const std::string& bytes);
// The same for a memo, whose edited text keeps CR LF line breaks.
std::string storedMemo(const QString& now, const QString& shown, const std::string& bytes);
