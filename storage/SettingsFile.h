// settings.toml: the settings vardo.cfg has no field for, in the same folder. A missing
// file means the defaults; keys this program does not know are kept when it saves.
#pragma once

#include <memory>
#include <string>

#include "core/Settings.h"

class SettingsFile {
  public:
    SettingsFile();
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // Reads the file at path into settings. A missing file leaves the defaults and succeeds.
    // A malformed file, a key of the wrong kind or a value out of range fails, with
    // errorText naming the file and the line; settings then keep the defaults.
    bool load(const std::string& path);
    // Writes settings to fileName in one step (a temporary file renamed over it), readable
    // by the owner only since it may hold a password. A file that the last load could not
    // read is left as it is (false).
    bool save();

    std::string fileName;
    std::string errorText;
    Settings settings;

  private:
    struct Kept;
    // What the file held: written back with the known keys replaced.
    std::unique_ptr<Kept> kept_;
};

// settings.toml in the folder of the given vardo.cfg path.
std::string settingsPathBeside(const std::string& configPath);
