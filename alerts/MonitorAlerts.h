// The log and the actions of a transition as the program runs them, with every effect real:
// what the application hands to the monitor as its HostAlerts.
#pragma once

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "alerts/Actions.h"
#include "alerts/EventLog.h"
#include "alerts/NotificationChannels.h"
#include "alerts/ServiceStart.h"
#include "alerts/SmtpAlertMailer.h"
#include "core/Monitor.h"

class MonitorAlerts final : public HostAlerts {
  public:
    // cfg: the live settings (log, mail); view: the status bar; messages: the message
    // boxes; connectState: the flag the mail client's events set; logCopy: where every log
    // line goes as well, if anywhere.
    MonitorAlerts(const LiveConfig& cfg, MonitorView& view, MessageSink& messages, Clock& clock,
                  std::atomic<std::int32_t>& connectState, EventLogger* logCopy = nullptr);

    void logEvent(std::string text, std::time_t time) override;
    void runUpActions(const ServerItem& item, std::time_t now) override;
    void runDownActions(const ServerItem& item, std::time_t now) override;
    // Ends a waiting mail dialogue, service start, reboot request or command at once; safe
    // from any thread.
    void cancel() override;

    TSmtpClient& mailClient() { return mailer_.client(); }
    NotificationChannels& channels() { return channels_; }

  private:
    FileEventLogger file_;
    CopyingEventLogger log_;
    CanberraSoundPlayer sounds_;
    PosixProcessRunner processes_;
    SystemdServiceStarter services_;
    LogindRebootRequester reboot_;
    SmbclientMessenger netMessages_;
    SmtpAlertMailer mailer_;
    ActionEffects fx_;
    // After the log it writes to, so it is gone first.
    NotificationChannels channels_;
};
