// One cycle with several checks at once. Workers, each with a probe set of its own from the
// pool, take the hosts in list order; a worker that finishes takes the next unchecked host
// at once, while the results it leaves wait for their turn. The calling thread applies the
// results strictly in list order, so the log, the actions and the rows read as if the hosts
// had been checked one after another.
#pragma once

#include <cstddef>

#include "core/Monitor.h"

// Checks every host of ctx.doc once with up to `workers` probes at once (ctx.pool must be
// set). Returns false when no worker could be had (or the list is empty); nothing was
// checked then.
bool runConcurrentCycle(MonitorContext& ctx, std::size_t workers);
