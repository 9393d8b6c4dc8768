// Where the configuration file lives: $XDG_CONFIG_HOME/kestrune-vardomon/vardo.cfg, with
// ~/.config standing in for an unset or relative XDG_CONFIG_HOME.
#pragma once

#include <string>

// getenvFn lets tests supply the environment; by default the process's own is read.
std::string configFilePath(const char* (*getenvFn)(const char*) = nullptr);

// Where the history store lives: $STATE_DIRECTORY/history.sqlite when systemd gives the
// program a state folder, else $XDG_DATA_HOME/kestrune-vardomon/history.sqlite, with
// ~/.local/share standing in for an unset or relative XDG_DATA_HOME.
std::string historyFilePath(const char* (*getenvFn)(const char*) = nullptr);
