// The real parts the program monitors with: the probes (TCP, ping, service control) and the
// alerts (log, actions), and what the host dialog's Test and Find buttons use.
#pragma once

#include <memory>

#include "app/Application.h"
#include "app/DialogServices.h"

class EventLogger;

AppComponents makeSystemComponents(const ComponentContext& context);
// The same, with every log line copied to logCopy whatever the log settings say.
AppComponents makeSystemComponentsLoggingTo(const ComponentContext& context, EventLogger& logCopy);

std::unique_ptr<DialogServices> makeSystemDialogServices();
