// vardomond --mute / --unmute: changes the mutes in settings.toml and exits; a running daemon
// takes them on its next SIGHUP.
#pragma once

#include <ostream>

#include "daemon/Options.h"

// 0 when the file was changed (what was done on out), 2 when settings.toml cannot be read or
// written (why on err).
int runMuteCommand(const DaemonOptions& options, std::ostream& out, std::ostream& err);
