// The labels that name a host's series: its name, address and type in UTF-8, and the label
// set between braces as the exposition writes it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Vardo.h"

struct HostLabels {
    std::string name;
    std::string address;
    const char* type = "tcp";  // "tcp", "http", "ping" or "service"

    bool operator==(const HostLabels&) const = default;
};

HostLabels labelsOf(const ServerItem& item);

// A label value between its double quotes: backslash, double quote and line feed escaped.
std::string escapeLabelValue(std::string_view utf8);

// The label set of every host, from "{" to "} ". Two hosts with the same name, address and
// type would make two series of one identity, which a scraper drops; a later one carries the
// label duplicate="2" (then "3", ...).
std::vector<std::string> labelSets(const std::vector<HostLabels>& labels);
