// Texts are bytes: documents made on the original platform hold 8-bit Windows-1252 texts,
// newer ones UTF-8. Where a text leaves the program as UTF-8 (metrics, console lines), one
// that is valid UTF-8 goes as it is and any other is decoded as Windows-1252, the same rule
// the windows show texts by.
#pragma once

#include <string>
#include <string_view>

bool isValidUtf8(std::string_view bytes);

// The text in UTF-8.
std::string asUtf8(std::string_view bytes);

// The text in double quotes with the quote, the backslash and every control character
// escaped: a JSON string and a TOML basic string alike.
std::string quotedText(std::string_view text);
