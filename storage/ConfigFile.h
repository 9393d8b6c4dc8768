// The vardo.cfg format: magic, version 3, seven texts and four numbers. ServerCfg::load and
// ServerCfg::save are built on these two functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/Vardo.h"

inline constexpr std::uint32_t kConfigMagic = 0xCAFEF00D;
inline constexpr std::int32_t kConfigVersion = 3;

inline constexpr const char* kCfgNotAConfig = "This file does not appear to be a Vardomon config file.";
inline constexpr const char* kCfgBadVersion = "Incompatible Vardomon config version.";
inline constexpr const char* kCfgDamaged =
    "The config file is damaged: it holds a bad text length or ends inside a field.";

std::string encodeConfig(const ServerCfg& cfg);

// Reads the settings into cfg. A file that ends between two fields sets the fields it holds
// and succeeds; a bad text length or a file that ends inside a field is damage. All or
// nothing: on failure cfg is unchanged and error holds the reason.
bool decodeConfig(std::string_view bytes, ServerCfg& cfg, std::string& error);
