// vardomond --test-notify NAME: one test notification to one channel of settings.toml, one
// try, no document needed.
#pragma once

#include <ostream>

#include "daemon/Options.h"

// 0 when the channel's service took it (on out), 1 when not (the reason on err), 2 when no
// usable channel has that name (an unusable entry of that name is named by its line).
int runTestNotify(const DaemonOptions& options, std::ostream& out, std::ostream& err);
