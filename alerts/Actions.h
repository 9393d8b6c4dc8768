// What happens when a host comes up or goes down: sounds, commands, a service start, a
// reboot, a message box, net messages and one mail, in a fixed order, each only when the
// host switched it on. Failures are logged or dropped; none stops the steps after it.
#pragma once

#include <ctime>
#include <string>

#include "alerts/AlertMail.h"
#include "alerts/EventLog.h"
#include "core/Clock.h"
#include "core/LiveConfig.h"
#include "core/MonitorView.h"
#include "core/Vardo.h"
#include "platform/MessageSink.h"
#include "platform/NetMessenger.h"
#include "platform/Processes.h"
#include "platform/RemoteReboot.h"
#include "platform/ServiceStarter.h"
#include "platform/SoundPlayer.h"

// Everything the actions touch. The program passes the real effects, tests pass fakes.
struct ActionEffects {
    const LiveConfig& cfg;  // mail server, sender and subject
    EventLogger& log;       // service and reboot results
    MonitorView& status;    // status bar texts
    Clock& clock;           // the time of the reboot lines
    SoundPlayer& sounds;
    ProcessRunner& processes;
    ServiceStarter& services;
    RebootRequester& reboot;
    MessageSink& messages;  // message boxes
    NetMessenger& netMessages;
    AlertMailer& mail;
};

// The text of the wall message a rebooted machine shows.
inline constexpr const char* kRebootMessage = "Kestrune Vardomon is rebooting this system due to failure.";

// The host came back up; now is the time its check began.
void runUpActions(const ServerItem& item, std::time_t now, ActionEffects& fx);
// The host went down; now is the time its check began.
void runDownActions(const ServerItem& item, std::time_t now, ActionEffects& fx);
