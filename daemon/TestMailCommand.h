// vardomond --test-mail: one test mail with the mail settings of vardo.cfg and settings.toml,
// no document needed.
#pragma once

#include <ostream>

#include "daemon/Options.h"

// 0 when the server accepted the mail (its answer on out), 1 when not (the reason on err), 2
// when the settings cannot be used.
int runTestMail(const DaemonOptions& options, std::ostream& out, std::ostream& err);
