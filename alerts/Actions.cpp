#include "alerts/Actions.h"

#include <algorithm>
#include <chrono>

#include "alerts/Templates.h"

namespace {

constexpr std::chrono::seconds kRebootDelay{15};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimBlanks(const std::string& text) {
    const auto first = std::find_if_not(text.begin(), text.end(), isBlank);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), isBlank).base();
    return first < last ? std::string(first, last) : std::string();
}

// Blanks and the backslashes of a Windows-style name ("\\%a") name no machine either.
bool namesNoMachine(const std::string& machine) {
    return std::all_of(machine.begin(), machine.end(), [](char c) { return isBlank(c) || c == '\\'; });
}

// Runs one step; whatever it throws is dropped, so a failing step never keeps the steps
// after it (or the monitor) from running.
template <typename Step>
void guarded(Step&& step) {
    try {
        step();
    } catch (...) {
    }
}

void sendNetMessages(const ServerItem& item, std::time_t now, ActionEffects& fx, const std::string& message,
                     const char* statusText) {
    fx.status.setStatusText(statusText);
    const std::string text = expandTemplate(item, message, now);
    for (const std::string& target : splitList(expandTemplate(item, item.notify.netSendList, now), ',')) {
        // One process per target, an empty one included; a target that cannot be reached
        // is no reason to skip the next. The blanks around a target are no part of its name
        // ("alpha, beta" names beta).
        fx.netMessages.sendNetMessage(trimBlanks(target), text);
    }
}

void sendMail(const ServerItem& item, std::time_t now, ActionEffects& fx, const std::string& message,
              const char* statusText) {
    fx.status.setStatusText(statusText);
    const ServerCfg cfg = fx.cfg.get();
    AlertMail mail;
    mail.server = cfg.mailServer;
    mail.body = expandTemplate(item, message, now);
    mail.fromAddress = cfg.fromAddress;
    mail.fromName = cfg.fromName;
    mail.subject = expandTemplate(item, cfg.mailSubject, now);
    // The recipients are used as typed: not expanded, not trimmed.
    mail.recipients = splitList(item.notify.mailList, ',');
    mail.settings = fx.cfg.extra().mail;
    fx.mail.sendAlertMail(mail);
}

void startService(const ServerItem& item, std::time_t now, ActionEffects& fx) {
    const std::string& service = item.events.startServiceName;
    ServiceHandle handle = fx.services.openServiceManager(item.address);
    if (!handle) {
        fx.log.logEvent("Failed to start service for item: " + item.name, now);
        return;
    }
    if (fx.services.startServiceByName(*handle, service)) {
        fx.log.logEvent("Server \"" + service + "\" started on " + item.name, now);
    } else {
        fx.log.logEvent("Failed to start service for item: " + item.name, now);
    }
    fx.services.closeServiceManager(std::move(handle));
}

void rebootMachine(const ServerItem& item, std::time_t now, ActionEffects& fx) {
    const std::string machine = expandTemplate(item, item.events.shutdownMachine, now);
    if (namesNoMachine(machine)) {
        // An empty name means this machine to the reboot: a template that expands to nothing
        // ("%a" of a host without an address) must not reboot the monitor's own machine.
        fx.log.logEvent("No machine to shut down for item: " + item.name + " (\"" +
                            item.events.shutdownMachine + "\" expands to nothing)",
                        fx.clock.now());
        return;
    }
    fx.status.setStatusText("Shutting down remote machine: " + machine + "...");
    const RebootResult result = fx.reboot.requestReboot(machine, kRebootMessage, kRebootDelay);
    // These lines carry the moment they are written, not the time of the check.
    switch (result) {
        case RebootResult::Requested:
            fx.log.logEvent("Shutdown remoate machine: " + machine, fx.clock.now());
            break;
        case RebootResult::NoFacility:
            fx.log.logEvent(
                "Remote System Shutdown is not supported by this operating system. (DLL Not Found)",
                fx.clock.now());
            break;
        case RebootResult::NoFunction:
            fx.log.logEvent(
                "Remote System Shutdown is not supported by this operating system. (Function Not Found)",
                fx.clock.now());
            break;
        case RebootResult::Refused:
            fx.log.logEvent("Failed to shutdown the remote machine: " + machine, fx.clock.now());
            break;
    }
}

}  // namespace

void runUpActions(const ServerItem& item, std::time_t now, ActionEffects& fx) {
    const EventData& ev = item.events;
    const NotifyData& nt = item.notify;
    if (ev.upSound) {
        guarded([&] { fx.sounds.play(ev.upSoundFile); });
    }
    if (ev.upCmd) {
        guarded([&] { fx.processes.runShellCommand(expandTemplate(item, ev.upCmdLine, now)); });
    }
    // The notifications of a host that comes back up go out only when the host asks to be
    // told about that; sounds and commands are events of their own.
    if (!nt.notifyUp) {
        return;
    }
    if (nt.msgBox) {
        guarded(
            [&] { fx.messages.showAlert(AlertKind::Up, item.name, expandTemplate(item, nt.upMsg, now)); });
    }
    if (nt.netSend) {
        guarded([&] { sendNetMessages(item, now, fx, nt.upMsg, "Sending Server Up Message..."); });
    }
    if (nt.sendMails) {
        guarded([&] { sendMail(item, now, fx, nt.upMsg, "Sending Server Up Email..."); });
    }
}

void runDownActions(const ServerItem& item, std::time_t now, ActionEffects& fx) {
    const EventData& ev = item.events;
    const NotifyData& nt = item.notify;
    if (ev.downSound) {
        guarded([&] { fx.sounds.play(ev.downSoundFile); });
    }
    if (ev.downCmd) {
        guarded([&] { fx.processes.runShellCommand(expandTemplate(item, ev.downCmdLine, now)); });
    }
    if (ev.startService && !ev.startServiceName.empty()) {
        guarded([&] { startService(item, now, fx); });
    }
    if (ev.shutdown && !ev.shutdownMachine.empty()) {
        guarded([&] { rebootMachine(item, now, fx); });
    }
    if (!nt.notifyDown) {
        return;
    }
    if (nt.msgBox) {
        guarded([&] {
            fx.messages.showAlert(AlertKind::Down, item.name, expandTemplate(item, nt.downMsg, now));
        });
    }
    if (nt.netSend) {
        guarded([&] { sendNetMessages(item, now, fx, nt.downMsg, "Sending Server Down Message..."); });
    }
    if (nt.sendMails) {
        guarded([&] { sendMail(item, now, fx, nt.downMsg, "Sending Server Down Email..."); });
    }
}
