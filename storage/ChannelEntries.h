// The [[channels]] entries of settings.toml: read one by one, so a bad entry is reported and
// skipped while the others work, and written back as a group when the window changed them.
#pragma once

#include <toml++/toml.h>

#include <string>
#include <string_view>
#include <vector>

#include "core/Settings.h"
#include "storage/SettingsFile.h"

// The usable entries into channels, in file order; each unusable one into problems, with the
// file, the line and the key.
void readChannels(const toml::table& root, const std::string& path, std::vector<ChannelSettings>& channels,
                  std::vector<ChannelProblem>& problems);

// The text with its usable entries replaced by channels; unusable entries, every other key,
// comment and section stay where they are. False with error when the result would not read
// back as channels.
bool rewriteChannels(std::string_view text, const std::string& path, const std::vector<ChannelSettings>& channels,
                     std::string& out, std::string& error);

// A text as TOML writes it: in double quotes, with quotes, backslashes and control
// characters escaped.
std::string tomlQuoted(std::string_view value);
