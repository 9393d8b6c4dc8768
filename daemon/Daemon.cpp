#include "daemon/Daemon.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "app/SystemComponents.h"
#include "platform/ConfigLocation.h"
#include "storage/SettingsFile.h"

namespace {

bool fileExists(const std::string& path) {
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

}  // namespace

Daemon::Daemon(DaemonOptions options, SignalWatch& signals)
    : o_(std::move(options)),
      signals_(signals),
      out_(STDOUT_FILENO),
      err_(STDERR_FILENO),
      events_(out_),
      alerts_(err_),
      user_(err_) {}

Daemon::~Daemon() = default;

bool Daemon::start() {
    configPath_ = o_.configDir.empty() ? configFilePath()
                                       : (std::filesystem::path(o_.configDir) / "vardo.cfg").string();
    ComponentFactory components = makeSystemComponents;
    if (o_.logToStdout) {
        components = [this](const ComponentContext& c) { return makeSystemComponentsLoggingTo(c, events_); };
    }
    app_ = std::make_unique<Application>(Application::Ui{cycles_, user_, user_, user_, alerts_}, configPath_,
                                         components);
    // A missing vardo.cfg means the defaults, as at the window's start-up; one that is there
    // but cannot be used is an error rather than a silent fall-back.
    if (const ServerCfg cfg = app_->settings(); fileExists(configPath_) && !cfg.errorText.empty()) {
        user_.say(configPath_ + ": " + cfg.errorText);
        return false;
    }
    if (!app_->settingsError().empty()) {
        user_.say(app_->settingsError());
        return false;
    }
    if (!app_->startupError().empty()) {
        user_.say(app_->startupError());
    }
    if (!documentUsable(o_.document) || !openDocument(o_.document)) {
        return false;
    }
    app_->testOpenLog();
    if (o_.intervalSeconds) {
        app_->liveConfig().overrideIntervalSeconds(o_.intervalSeconds);
    }
    if (!o_.metricsListen.empty()) {
        app_->liveConfig().updateExtra([&](Settings& s) { s.metrics.listen = o_.metricsListen; });
    }
    if (!app_->serveMetrics()) {
        user_.say(app_->metricsError());
        return false;
    }
    if (const std::string at = app_->metricsAddress(); !at.empty()) {
        user_.say("metrics on http://" + at + "/metrics");
    }
    if (o_.once) {
        cycles_.stopAfterFirstCycle(app_->flags());
    }
    return true;
}

bool Daemon::documentUsable(const std::string& path) {
    // Read once on the side first, so that a failure names the file and changes nothing.
    ServerDoc read;
    if (!read.load(path)) {
        user_.say("Failed to open file: " + path + ": " + read.errorText);
        return false;
    }
    return true;
}

bool Daemon::openDocument(const std::string& path) {
    if (!app_->openPath(path)) {
        return false;
    }
    stamp_.take(path);
    staleSaid_ = false;
    return true;
}

void Daemon::save() {
    ServerDoc& doc = app_->document();
    if (!doc.modified) {
        return;
    }
    // The files as they are on disk win: a document someone else has changed since it was
    // read is not overwritten with the counts of this run.
    if (stamp_.changed(doc.fileName)) {
        if (!staleSaid_) {
            user_.say(doc.fileName +
                      " changed on disk since it was read; it is not saved over (SIGHUP reads it)");
            staleSaid_ = true;
        }
        return;
    }
    if (!doc.save()) {
        if (!saveFailureSaid_) {
            user_.say("Failed to save file: " + doc.fileName + ": " + doc.errorText);
            saveFailureSaid_ = true;
        }
        return;
    }
    saveFailureSaid_ = false;
    stamp_.take(doc.fileName);
}

void Daemon::reload() {
    app_->haltMonitor();
    save();
    const std::string docPath = app_->document().fileName.empty() ? o_.document : app_->document().fileName;
    // All or nothing: a file that cannot be used leaves everything as it was.
    bool usable = true;
    ServerCfg cfg;
    cfg.fileName = configPath_;
    if (fileExists(configPath_) && !cfg.load(configPath_)) {
        user_.say(configPath_ + ": " + cfg.errorText);
        usable = false;
    }
    SettingsFile extra;
    if (usable && !extra.load(settingsPathBeside(configPath_))) {
        user_.say(extra.errorText);
        usable = false;
    }
    if (!usable || !documentUsable(docPath)) {
        user_.say("nothing was read again; monitoring goes on as before");
    } else {
        cfg.errorText.clear();
        app_->liveConfig().set(cfg);
        Settings settings = extra.settings;
        if (!o_.metricsListen.empty()) {
            settings.metrics.listen = o_.metricsListen;
        }
        app_->liveConfig().updateExtra([&](Settings& s) { s = settings; });
        if (openDocument(docPath)) {
            user_.say("read " + docPath + " and the settings again");
        }
    }
    app_->toggleMonitor();
}

int Daemon::outcome() const {
    for (const ServerItem& item : app_->document().items()) {
        if (item.status != StatusSuccess) {
            return 1;
        }
    }
    return 0;
}

int Daemon::run() {
    if (!start()) {
        return 2;
    }
    app_->toggleMonitor();
    bool reloadWanted = false;
    bool ended = false;
    bool onceDone = false;
    while (!ended && !onceDone) {
        pollfd fds[2] = {{signals_.fd(), POLLIN, 0}, {cycles_.fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            user_.say("cannot wait for signals");
            break;
        }
        // A cycle's end first: its counts are saved before any reload reads the file.
        if (cycles_.takeEnded() > 0) {
            if (o_.once) {
                onceDone = true;
            } else {
                save();
                if (reloadWanted) {
                    reloadWanted = false;
                    reload();
                }
            }
        }
        bool hangUp = false;
        for (const int signal : signals_.take()) {
            if (signal == SIGHUP) {
                hangUp = true;
            } else {
                ended = true;
            }
        }
        if (hangUp && !ended && !onceDone) {
            // Between cycles now, or once the cycle under way has ended.
            if (cycles_.betweenCycles()) {
                reload();
            } else {
                reloadWanted = true;
            }
        }
    }
    // A check still under way counts for nothing.
    app_->haltMonitor();
    save();
    return onceDone && !ended ? outcome() : 0;
}
