#include "metrics/MetricsExporter.h"

#include "metrics/Exposition.h"

MetricsExporter::MetricsExporter(const ServerDoc& doc, Clock& clock, const std::atomic<bool>& running)
    : view_(doc, clock),
      running_(running),
      server_([this] {
          std::string text = renderExposition(view_.snapshot(), running_);
          notifications_.appendTo(text);
          return text;
      }) {}
