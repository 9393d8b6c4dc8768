// vardomond --report: what the history holds of a document's hosts, in list order, as text,
// CSV or JSON. It only reads the store, so it runs beside a monitor that writes it.
#pragma once

#include <ostream>

#include "daemon/Options.h"

// 0 after the report; 2 with the reason on err when the store or the document cannot be read.
int runReport(const DaemonOptions& options, std::ostream& out, std::ostream& err);
