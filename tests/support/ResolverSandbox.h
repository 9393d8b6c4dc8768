// Runs a piece of a test in a child process with a network of its own (only loopback) and
// its own /etc/resolv.conf (and /etc/hosts), so host lookups that must fail or hang never
// reach the machine's resolver.
#pragma once

#include <functional>
#include <string>

struct SandboxOutcome {
    bool ran = false;    // false: the system does not allow the namespaces (see reason)
    std::string output;  // what the body returned, or "exception: " and its text
    std::string reason;
};

// resolvConf is the text of the sandbox's /etc/resolv.conf. With silentNameServer, a UDP
// socket bound to 127.0.0.1:53 takes the queries and never answers, so lookups hang until
// the resolver gives up.
SandboxOutcome runWithPrivateResolver(const std::string& resolvConf, bool silentNameServer,
                                      const std::function<std::string()>& body);

// The same with hostsFile as /etc/hosts and a name server on 127.0.0.1 where nothing listens:
// only the names of hostsFile resolve.
SandboxOutcome runWithHostsFile(const std::string& hostsFile, const std::function<std::string()>& body);
