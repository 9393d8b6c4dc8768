// Short pop-up messages to other machines of the network.
#pragma once

#include <string>

class NetMessenger {
  public:
    virtual ~NetMessenger() = default;
    // Starts sending the message to the target and returns without waiting for the
    // outcome. Whether the sending process could be started.
    virtual bool sendNetMessage(const std::string& target, const std::string& message) = 0;
};

// Sends through Samba's "smbclient -M target", the message on its standard input. No shell
// is involved, so neither the target nor the message can run a command.
class SmbclientMessenger final : public NetMessenger {
  public:
    // program: the smbclient to start, looked up on PATH.
    explicit SmbclientMessenger(std::string program = "smbclient") : program_(std::move(program)) {}
    bool sendNetMessage(const std::string& target, const std::string& message) override;

  private:
    std::string program_;
};
