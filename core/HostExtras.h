// Per-host settings beyond the record: keys are lower-case ASCII with a dotted prefix
// ("http.status"), values UTF-8. A host that uses none has an empty set, and a document whose
// hosts all have empty sets is stored exactly as before these settings existed. Keys this
// version does not know are kept as they were read.
#pragma once

#include <map>
#include <string>

using HostExtras = std::map<std::string, std::string>;

// The text a document whose extended settings could not be read is opened with.
inline constexpr const char* kExtrasDamaged =
    "The extended host settings of this document are damaged and were not read.";
