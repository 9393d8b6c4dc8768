#include "support/DbusMock.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {

constexpr const char* kMockInterface = "org.freedesktop.DBus.Mock";
constexpr const char* kManagerInterface = "org.freedesktop.systemd1.Manager";
constexpr const char* kUnitInterface = "org.freedesktop.systemd1.Unit";
// Test-only controls added to the systemd mock.
constexpr const char* kControlInterface = "org.freedesktop.systemd1.TestControl";
constexpr auto kStartLimit = std::chrono::seconds(20);

// Starts a program with its output sent to logPath. The child gets SIGTERM when the thread
// that started it ends, so a crashed test leaves no daemon behind.
pid_t spawn(const std::vector<std::string>& argv, const std::string& logPath, int keepFd = -1) {
    std::vector<char*> args;
    for (const std::string& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            ::_exit(127);
        }
        if (log >= 0) {
            ::dup2(log, STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
        }
        if (keepFd >= 0) {
            ::fcntl(keepFd, F_SETFD, 0);
        }
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (log >= 0) {
        ::close(log);
    }
    if (pid < 0) {
        throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid > 0) {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
}

bool exited(pid_t pid) {
    int status = 0;
    return ::waitpid(pid, &status, WNOHANG) == pid;
}

// Reads one line from fd, waiting at most until the start limit.
std::string readLine(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) {
            continue;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            break;
        }
        if (c == '\n') {
            return line;
        }
        line += c;
    }
    return line;
}

void check(int r, const std::string& what) {
    if (r < 0) {
        throw std::runtime_error(what + ": " + std::strerror(-r));
    }
}

class CallError {
  public:
    ~CallError() { sd_bus_error_free(&error_); }
    sd_bus_error* get() { return &error_; }
    std::string text() const {
        return std::string(error_.name ? error_.name : "") + " " + (error_.message ? error_.message : "");
    }

  private:
    sd_bus_error error_{};
};

}  // namespace

DbusMock::DbusMock(Bus stands)
    : variable_(stands == Bus::System ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS"),
      system_(stands == Bus::System) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const std::string socket = dir_.file("system_bus_socket");
    try {
        daemon_ = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                         "--print-address=" + std::to_string(fds[1]), "--address=unix:path=" + socket},
                        dir_.file("dbus-daemon.log"), fds[1]);
    } catch (...) {
        ::close(fds[0]);
        ::close(fds[1]);
        throw;
    }
    ::close(fds[1]);
    address_ = readLine(fds[0]);
    ::close(fds[0]);
    if (address_.empty()) {
        stop(daemon_);
        throw std::runtime_error("dbus-daemon did not start (is the dbus package installed?)");
    }

    if (const char* old = std::getenv(variable_)) {
        hadPreviousAddress_ = true;
        previousAddress_ = old;
    }
    ::setenv(variable_, address_.c_str(), 1);

    check(sd_bus_new(&bus_), "sd_bus_new");
    check(sd_bus_set_address(bus_, address_.c_str()), "sd_bus_set_address");
    check(sd_bus_set_bus_client(bus_, 1), "sd_bus_set_bus_client");
    check(sd_bus_start(bus_), "connecting to the private bus");
}

DbusMock::~DbusMock() {
    sd_bus_flush_close_unref(bus_);
    for (pid_t pid : mocks_) {
        stop(pid);
    }
    stop(daemon_);
    if (hadPreviousAddress_) {
        ::setenv(variable_, previousAddress_.c_str(), 1);
    } else {
        ::unsetenv(variable_);
    }
}

void DbusMock::startTemplate(const std::string& templateName, const std::string& busName,
                             const std::string& parametersJson) {
    std::vector<std::string> argv = {
        "/usr/bin/python3", "-m", "dbusmock", system_ ? "--system" : "--session", "--template", templateName};
    if (!parametersJson.empty()) {
        argv.push_back("--parameters");
        argv.push_back(parametersJson);
    }
    const pid_t pid = spawn(argv, dir_.file("mock-" + templateName + ".log"));
    mocks_.push_back(pid);
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        sd_bus_message* reply = nullptr;
        CallError error;
        if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                               "NameHasOwner", error.get(), &reply, "s", busName.c_str()) >= 0) {
            int owned = 0;
            sd_bus_message_read(reply, "b", &owned);
            sd_bus_message_unref(reply);
            if (owned) {
                return;
            }
        }
        if (exited(pid)) {
            mocks_.pop_back();
            throw std::runtime_error("python3-dbusmock template " + templateName + " ended early; see " +
                                     dir_.file("mock-" + templateName + ".log"));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("python3-dbusmock template " + templateName + " did not claim " + busName);
}

void DbusMock::addMethod(const std::string& busName, const std::string& path, const std::string& interface,
                         const std::string& name, const std::string& inSig, const std::string& outSig,
                         const std::string& code) {
    CallError error;
    const int r = sd_bus_call_method(bus_, busName.c_str(), path.c_str(), kMockInterface, "AddMethod",
                                     error.get(), nullptr, "sssss", interface.c_str(), name.c_str(),
                                     inSig.c_str(), outSig.c_str(), code.c_str());
    if (r < 0) {
        throw std::runtime_error("AddMethod " + name + ": " + error.text());
    }
}

std::vector<std::string> DbusMock::calls(const std::string& busName, const std::string& path) {
    std::vector<std::string> names;
    CallError error;
    sd_bus_message* reply = nullptr;
    if (sd_bus_call_method(bus_, busName.c_str(), path.c_str(), kMockInterface, "GetCalls", error.get(),
                           &reply, "") < 0) {
        throw std::runtime_error("GetCalls: " + error.text());
    }
    check(sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(tsav)"), "GetCalls reply");
    while (sd_bus_message_enter_container(reply, SD_BUS_TYPE_STRUCT, "tsav") > 0) {
        std::uint64_t time = 0;
        const char* method = nullptr;
        check(sd_bus_message_read(reply, "ts", &time, &method), "GetCalls entry");
        names.emplace_back(method);
        check(sd_bus_message_skip(reply, "av"), "GetCalls arguments");
        check(sd_bus_message_exit_container(reply), "GetCalls entry end");
    }
    sd_bus_message_unref(reply);
    return names;
}

void DbusMock::clearCalls(const std::string& busName, const std::string& path) {
    CallError error;
    if (sd_bus_call_method(bus_, busName.c_str(), path.c_str(), kMockInterface, "ClearCalls", error.get(),
                           nullptr, "") < 0) {
        throw std::runtime_error("ClearCalls: " + error.text());
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

// One row of ListUnits, for a unit object of the mock.
constexpr const char* kRowFunction = R"(
def row(name, path):
    p = objects[path].props['org.freedesktop.systemd1.Unit']
    return (name, p.get('Description', ''), p['LoadState'], p['ActiveState'], 'dead', '',
            dbus.ObjectPath(path), dbus.UInt32(0), '', dbus.ObjectPath('/'))
)";

}  // namespace

SystemdMock::SystemdMock(DbusMock& bus) : bus_(bus) {
    bus_.startTemplate("systemd", kBusName);
    // systemd raises NoSuchUnit for a name it has no unit for.
    bus_.addMethod(kBusName, kPath, kManagerInterface, "LoadUnit", "s", "o", R"(
name = str(args[0])
if name not in self.units:
    raise dbus.exceptions.DBusException('Unit ' + name + ' not found.',
                                        name='org.freedesktop.systemd1.NoSuchUnit')
objects[self.units[name]].vardo_loaded = True
ret = dbus.ObjectPath(self.units[name])
)");
    bus_.addMethod(kBusName, kPath, kManagerInterface, "ListUnits", "", "a(ssssssouso)",
                   std::string(kRowFunction) + R"(
if getattr(self, 'vardo_list_error', ''):
    raise dbus.exceptions.DBusException('listing refused', name=self.vardo_list_error)
if getattr(self, 'vardo_list_delay', 0):
    import time
    delay, self.vardo_list_delay = self.vardo_list_delay, 0
    time.sleep(delay)
ret = []
for name, path in self.units.items():
    if getattr(objects[path], 'vardo_loaded', True):
        ret.append(row(name, path))
)");
    bus_.addMethod(kBusName, kPath, kManagerInterface, "ListUnitsByNames", "as", "a(ssssssouso)",
                   std::string(kRowFunction) + R"(
ret = []
for name in args[0]:
    name = str(name)
    if name in self.units:
        objects[self.units[name]].vardo_loaded = True
        ret.append(row(name, self.units[name]))
    else:
        ret.append((name, '', 'not-found', 'inactive', 'dead', '', dbus.ObjectPath('/'),
                    dbus.UInt32(0), '', dbus.ObjectPath('/')))
)");
    bus_.addMethod(kBusName, kPath, kManagerInterface, "ListUnitFiles", "", "a(ss)",
                   "ret = getattr(self, 'vardo_files', [])");
    bus_.addMethod(kBusName, kPath, kControlInterface, "AddUnitFile", "ss", "",
                   "self.vardo_files = getattr(self, 'vardo_files', []) + [(str(args[0]), str(args[1]))]");
    bus_.addMethod(kBusName, kPath, kControlInterface, "SetListError", "s", "",
                   "self.vardo_list_error = str(args[0])");
    bus_.addMethod(kBusName, kPath, kControlInterface, "SetListDelay", "i", "",
                   "self.vardo_list_delay = int(args[0])");
    bus_.addMethod(kBusName, kPath, kControlInterface, "SetUnitLoaded", "sb", "",
                   "objects[self.units[str(args[0])]].vardo_loaded = bool(args[1])");
}

std::string SystemdMock::unitPath(const std::string& name) {
    std::string escaped = name;
    for (char& c : escaped) {
        if (c == '.' || c == '-') {
            c = '_';
        }
    }
    return std::string(kPath) + "/unit/" + escaped;
}

void SystemdMock::addUnit(const Unit& unit) {
    sd_bus* bus = bus_.bus();
    const std::string path = unitPath(unit.name);
    {
        CallError error;
        if (sd_bus_call_method(bus, kBusName, kPath, kMockInterface, "AddMockUnit", error.get(), nullptr, "s",
                               unit.name.c_str()) < 0) {
            throw std::runtime_error("AddMockUnit: " + error.text());
        }
    }
    {
        CallError error;
        if (sd_bus_call_method(bus, kBusName, path.c_str(), kMockInterface, "AddProperty", error.get(),
                               nullptr, "ssv", kUnitInterface, "Description", "s",
                               unit.description.c_str()) < 0) {
            throw std::runtime_error("AddProperty Description: " + error.text());
        }
    }
    {
        CallError error;
        if (sd_bus_call_method(bus, kBusName, path.c_str(), kMockInterface, "UpdateProperties", error.get(),
                               nullptr, "sa{sv}", kUnitInterface, 2, "ActiveState", "s",
                               unit.activeState.c_str(), "LoadState", "s", unit.loadState.c_str()) < 0) {
            throw std::runtime_error("UpdateProperties: " + error.text());
        }
    }
    if (!unit.loaded) {
        CallError error;
        if (sd_bus_call_method(bus, kBusName, kPath, kControlInterface, "SetUnitLoaded", error.get(), nullptr,
                               "sb", unit.name.c_str(), 0) < 0) {
            throw std::runtime_error("SetUnitLoaded: " + error.text());
        }
    }
    if (!unit.fileState.empty()) {
        addUnitFile("/lib/systemd/system/" + unit.name, unit.fileState);
    }
}

void SystemdMock::setActiveState(const std::string& name, const std::string& state) {
    CallError error;
    if (sd_bus_call_method(bus_.bus(), kBusName, unitPath(name).c_str(), kMockInterface, "UpdateProperties",
                           error.get(), nullptr, "sa{sv}", kUnitInterface, 1, "ActiveState", "s",
                           state.c_str()) < 0) {
        throw std::runtime_error("UpdateProperties: " + error.text());
    }
}

void SystemdMock::failListings(const std::string& errorName) {
    CallError error;
    if (sd_bus_call_method(bus_.bus(), kBusName, kPath, kControlInterface, "SetListError", error.get(),
                           nullptr, "s", errorName.c_str()) < 0) {
        throw std::runtime_error("SetListError: " + error.text());
    }
}

void SystemdMock::delayNextListing(int seconds) {
    CallError error;
    if (sd_bus_call_method(bus_.bus(), kBusName, kPath, kControlInterface, "SetListDelay", error.get(),
                           nullptr, "i", seconds) < 0) {
        throw std::runtime_error("SetListDelay: " + error.text());
    }
}

void SystemdMock::addUnitFile(const std::string& path, const std::string& state) {
    CallError error;
    if (sd_bus_call_method(bus_.bus(), kBusName, kPath, kControlInterface, "AddUnitFile", error.get(),
                           nullptr, "ss", path.c_str(), state.c_str()) < 0) {
        throw std::runtime_error("AddUnitFile: " + error.text());
    }
}
