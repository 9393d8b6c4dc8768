// The texts an alert sends or runs are written by the user as templates with placeholders
// for the host and the time of the check; lists typed into one edit are cut into items.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "core/Vardo.h"

// The one date form of the application, in local time, e.g. "Tue Dec 08 08:55:37 2026"
// (English names whatever the locale, the day zero-padded). "<current time>" when the time
// cannot be converted.
std::string dateText(std::time_t time);

// The time in UTC as RFC 3339 gives it, e.g. "2026-12-08T07:55:37Z", for machines to read.
std::string utcTimestamp(std::time_t time);

// Replaces "%s" (name), "%a" (address), "%p" (port), "%t" (date text of time) and "%%";
// any other "%x" stays as it is and a trailing lone "%" is dropped. Inserted texts are not
// scanned again.
std::string expandTemplate(const ServerItem& item, const std::string& text, std::time_t time);

// The items between the delimiters, untrimmed; empty items between delimiters are kept, an
// empty last item is not.
std::vector<std::string> splitList(std::string text, char delimiter);
