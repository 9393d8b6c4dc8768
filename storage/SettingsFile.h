// settings.toml: the settings vardo.cfg has no field for, in the same folder. A missing
// file means the defaults. Other programs and the owner may write it too, so a save changes
// only the lines of the settings that changed here: every other key, comment and blank line
// stays as it is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/Settings.h"

// A [[channels]] entry that cannot be used: the others work without it.
struct ChannelProblem {
    // Its name, when it has one.
    std::string name;
    // The file, the line and the key, never the value.
    std::string text;
};

class SettingsFile {
  public:
    SettingsFile() = default;
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // Reads the file at path into settings. A missing file leaves the defaults and succeeds.
    // A malformed file, a key of the wrong kind or a value out of range fails, with
    // errorText naming the file and the line; settings then keep the defaults.
    bool load(const std::string& path);
    // Writes the settings that differ from those last read or written into fileName as it
    // is now, in one step (a temporary file renamed over it), readable by the owner only since
    // it may hold a password. A file that is not TOML at that moment is left as it is (false).
    bool save();

    std::string fileName;
    std::string errorText;
    Settings settings;
    // The entries left out of settings.channels, and why.
    std::vector<ChannelProblem> channelProblems;

  private:
    // The settings as last read or written.
    Settings read_;
};

// Reads the text of a settings.toml found at path. On failure settings are unchanged and
// error names the file, the line and the key, never the value. A [[channels]] entry that
// cannot be used fails alone: it goes to problems, when given, and the rest is read.
bool decodeSettings(std::string_view text, const std::string& path, Settings& settings, std::string& error,
                    std::vector<ChannelProblem>* problems = nullptr);
// The text with the keys whose values differ between before and after set to after's, all
// else as it was; false with error when the text is not TOML.
bool mergeSettings(std::string_view text, const std::string& path, const Settings& before,
                   const Settings& after, std::string& merged, std::string& error);

// settings.toml in the folder of the given vardo.cfg path.
std::string settingsPathBeside(const std::string& configPath);
