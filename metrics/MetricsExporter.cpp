#include "metrics/MetricsExporter.h"

#include "metrics/Exposition.h"

MetricsExporter::MetricsExporter(const ServerDoc& doc, Clock& clock, const std::atomic<bool>& running)
    : view_(doc, clock),
      running_(running),
      server_([this] { return renderExposition(view_.snapshot(), running_); }) {}
