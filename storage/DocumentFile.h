// The .vdm document format: header (magic, version 4, record count), the records back to
// back, and the trailer of extended host settings when a host has any
// (storage/DocumentTrailer.h). ServerDoc::save and ServerDoc::load are built on these.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/HostExtras.h"
#include "core/Vardo.h"

inline constexpr std::uint32_t kDocumentMagic = 0xBAADF00D;
inline constexpr std::int32_t kDocumentVersion = 4;
// The smallest record: 51 bytes of fixed fields and 16 string counts.
inline constexpr std::size_t kMinRecordSize = 51 + 16 * 4;

inline constexpr const char* kDocNotADocument = "This file does not appear to be a Vardomon document.";
inline constexpr const char* kDocBadVersion = "Incompatible Vardomon document version.";
inline constexpr const char* kDocDamaged =
    "The document is damaged: it ends inside a record or holds a bad text length.";

// extras is empty or holds one set per item.
std::string encodeDocument(const std::vector<ServerItem>& items, const std::vector<HostExtras>& extras = {});

// What a document holds beside its records: one set of extended settings per record (all
// empty without a trailer), and whether a trailer was there but could not be read.
struct DocumentExtras {
    std::vector<HostExtras> hosts;
    bool damaged = false;
};

// Reads a whole document. All or nothing: on failure items is untouched and error holds
// the reason. A damaged trailer is no failure: the records are read and extras says so.
bool decodeDocument(std::string_view bytes, std::vector<ServerItem>& items, std::string& error);
bool decodeDocument(std::string_view bytes, std::vector<ServerItem>& items, DocumentExtras& extras,
                    std::string& error);
