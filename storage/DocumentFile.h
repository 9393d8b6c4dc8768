// The .vdm document format: header (magic, version 4, record count) and the records back
// to back. ServerDoc::save and ServerDoc::load are built on these two functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/Vardo.h"

inline constexpr std::uint32_t kDocumentMagic = 0xBAADF00D;
inline constexpr std::int32_t kDocumentVersion = 4;
// The smallest record: 51 bytes of fixed fields and 16 string counts.
inline constexpr std::size_t kMinRecordSize = 51 + 16 * 4;

inline constexpr const char* kDocNotADocument = "This file does not appear to be a Vardomon document.";
inline constexpr const char* kDocBadVersion = "Incompatible Vardomon document version.";
inline constexpr const char* kDocDamaged =
    "The document is damaged: it ends inside a record or holds a bad text length.";

std::string encodeDocument(const std::vector<ServerItem>& items);

// Reads a whole document. All or nothing: on failure items is untouched and error holds
// the reason.
bool decodeDocument(std::string_view bytes, std::vector<ServerItem>& items, std::string& error);
