// Which series each host of a list writes to: the document's canonical path and the host's
// labels as the metrics name it, with the port or the service after the address; hosts
// that share all of these are told apart by their place among them (twin 1, 2, ...).
#pragma once

#include <string>
#include <vector>

#include "core/Vardo.h"
#include "history/HistoryTypes.h"

// The key of a document's file name; empty for a document never saved.
std::string documentKey(const std::string& fileName);

SeriesKey seriesKeyOf(const std::string& document, const ServerItem& item);
std::vector<SeriesKey> seriesKeys(const std::string& document, const std::vector<ServerItem>& items);
