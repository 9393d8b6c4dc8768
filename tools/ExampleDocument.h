// The host list shipped as examples/localhost.vdm: things present on any Linux machine, and a
// TCP listener that run.sh starts beside the program.
#pragma once

#include <cstdint>
#include <vector>

#include "core/Vardo.h"

inline constexpr std::int32_t kExampleListenerPort = 47123;

inline std::vector<ServerItem> exampleHosts() {
    std::vector<ServerItem> hosts;
    auto quiet = [](ServerItem& it) {
        // No mail server is configured on a fresh machine.
        it.notify.sendMails = false;
    };

    ServerItem ping;
    ping.name = "Loopback (ping)";
    ping.address = "127.0.0.1";
    ping.type = HostPing;
    ping.numPings = 2;
    ping.description = "ICMP echo to this machine.";
    quiet(ping);
    hosts.push_back(ping);

    ServerItem listener;
    listener.name = "Local listener (connect)";
    listener.address = "127.0.0.1";
    listener.tcpPort = kExampleListenerPort;
    listener.failuresAllowed = 1;
    listener.description = "The listener that run.sh starts; stop it to watch this host go down.";
    quiet(listener);
    hosts.push_back(listener);

    ServerItem greeting = listener;
    greeting.name = "Local listener (greeting)";
    greeting.tcpType = TcpConnectReceive;
    greeting.recvText = "VARDOMON";
    greeting.description = "Expects the listener's greeting line to begin with VARDOMON.";
    hosts.push_back(greeting);

    ServerItem bus;
    bus.name = "D-Bus system bus";
    bus.address = "localhost";
    bus.type = HostService;
    bus.service = "dbus";
    bus.description = "The system message bus service, asked through systemd.";
    quiet(bus);
    hosts.push_back(bus);
    return hosts;
}
