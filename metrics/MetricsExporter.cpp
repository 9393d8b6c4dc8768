#include "metrics/MetricsExporter.h"

#include "metrics/Exposition.h"

MetricsExporter::MetricsExporter(const ServerDoc& doc, Clock& clock, const std::atomic<bool>& running,
                                 std::function<QuietState(std::size_t)> quiet)
    : view_(doc, clock), running_(running), quiet_(std::move(quiet)), server_([this] {
          MetricsSnapshot snapshot = view_.snapshot();
          for (std::size_t i = 0; quiet_ && i < snapshot.hosts.size(); ++i) {
              snapshot.quiet.push_back(quiet_(i));
          }
          std::string text = renderExposition(snapshot, running_);
          notifications_.appendTo(text);
          return text;
      }) {}
