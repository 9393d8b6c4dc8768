#include "alerts/MonitorAlerts.h"

MonitorAlerts::MonitorAlerts(const LiveConfig& cfg, MonitorView& view, MessageSink& messages, Clock& clock,
                             std::atomic<std::int32_t>& connectState, EventLogger* logCopy)
    : file_(cfg), log_(file_, logCopy), mailer_(connectState), fx_{cfg,      log_,         view,      clock,
                                                                   sounds_,  processes_,   services_, reboot_,
                                                                   messages, netMessages_, mailer_},
      channels_(cfg, clock, log_) {}

void MonitorAlerts::logEvent(std::string text, std::time_t time) {
    log_.logEvent(text, time);
}

void MonitorAlerts::runUpActions(const ServerItem& item, std::time_t now) {
    ::runUpActions(item, now, fx_);
    // The channels take every transition, whatever the host's own notification flags say.
    channels_.hostUp(item, now);
}

void MonitorAlerts::runDownActions(const ServerItem& item, std::time_t now) {
    ::runDownActions(item, now, fx_);
    channels_.hostDown(item, now);
}

void MonitorAlerts::cancel() {
    mailer_.cancel();
    services_.cancel();
    reboot_.cancel();
    processes_.cancel();
}
