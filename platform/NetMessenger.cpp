#include "platform/NetMessenger.h"

#include "platform/Processes.h"

bool SmbclientMessenger::sendNetMessage(const std::string& target, const std::string& message) {
    return spawnDetached({program_, "-M", target}, "/", message);
}
