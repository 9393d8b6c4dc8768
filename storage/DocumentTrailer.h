// The extended host settings of a document: a trailer after the last record, written only
// when some host has such settings, so a document without any keeps its old bytes and older
// readers, which stop after the records, still read it.
//
// "VDMX", a 32-bit trailer version, the host count (equal to the record count), then per
// host a 32-bit pair count and that many key and value strings (32-bit length, then the
// bytes), and last a CRC-32 of every trailer byte before it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/HostExtras.h"

inline constexpr std::string_view kTrailerMagic = "VDMX";
inline constexpr std::uint32_t kTrailerVersion = 1;

// The trailer for these hosts, or an empty text when none has an extended setting.
std::string encodeTrailer(const std::vector<HostExtras>& hosts);

enum class TrailerRead { Absent, Read, Damaged };

// Reads the bytes that follow the records of hostCount hosts. Bytes that do not start with
// the trailer's magic are no trailer (Absent). Read: hosts holds hostCount sets. Damaged:
// the magic is there but the version, a count, a length or the CRC does not hold; hosts is
// left empty.
TrailerRead decodeTrailer(std::string_view rest, std::size_t hostCount, std::vector<HostExtras>& hosts);
