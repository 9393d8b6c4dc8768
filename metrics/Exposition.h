// The Prometheus text exposition (format version 0.0.4) of the monitor's hosts and cycle.
#pragma once

#include <string>

#include "metrics/MetricsView.h"

inline constexpr const char* kExpositionContentType = "text/plain; version=0.0.4; charset=utf-8";

std::string renderExposition(const MetricsSnapshot& snapshot, bool monitorRunning);
