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
    configPath_ = configPathFor(o_);
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
    // A channel that cannot be used is left out; the others and the monitor go on.
    for (const ChannelProblem& problem : app_->channelProblems()) {
        user_.say(problem.text);
    }
    if (!app_->startupError().empty()) {
        user_.say(app_->startupError());
    }
    ServerDoc read;
    FileStamp seen;
    if (!readDocument(o_.document, read, seen)) {
        return false;
    }
    app_->adoptDocument(read);
    sayIfExtrasDamaged();
    stamp_ = seen;
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
    // Without a store the monitor goes on all the same: the reason is said once.
    if (!app_->startHistory() || !app_->historyNote().empty()) {
        user_.say(app_->historyNote());
    }
    if (o_.once) {
        cycles_.stopAfterFirstCycle(app_->flags());
    }
    return true;
}

bool Daemon::readDocument(const std::string& path, ServerDoc& read, FileStamp& seen) {
    seen.take(path);
    if (!read.load(path)) {
        user_.say("Failed to open file: " + path + ": " + read.errorText);
        return false;
    }
    return true;
}

bool Daemon::save() {
    ServerDoc& doc = app_->document();
    // The file as it is on disk wins over the counts of this run: one that someone else has
    // changed since it was read is read again, and the saves go on from there.
    if (stamp_.changed(doc.fileName)) {
        takeChangedFile();
        return true;
    }
    if (!doc.modified) {
        return true;
    }
    // Once more just before the rename, for a change made while the new file was written.
    bool changedMeanwhile = false;
    const bool saved = doc.save([&] {
        changedMeanwhile = stamp_.changed(doc.fileName);
        return !changedMeanwhile;
    });
    if (changedMeanwhile) {
        takeChangedFile();
        return true;
    }
    if (!saved) {
        if (!saveFailureSaid_) {
            user_.say("Failed to save file: " + doc.fileName + ": " + doc.errorText +
                          (doc.errorReason.empty() ? "" : " (" + doc.errorReason + ")"),
                      Priority::Error);
            saveFailureSaid_ = true;
        }
        return false;
    }
    saveFailureSaid_ = false;
    stamp_.take(doc.fileName);
    return true;
}

void Daemon::takeChangedFile() {
    const std::string path = app_->document().fileName;
    ServerDoc read;
    FileStamp seen;
    seen.take(path);
    if (!read.load(path)) {
        // Half written, or removed: the counts go on and the next cycle looks again.
        if (!staleSaid_) {
            user_.say(path + " changed on disk and cannot be read (" + read.errorText +
                          "); it is not saved over until it can",
                      Priority::Warning);
            staleSaid_ = true;
        }
        return;
    }
    // The monitor rests while the list is swapped; it goes on with a new cycle.
    const bool monitoring = app_->isMonitoring();
    if (monitoring) {
        app_->haltMonitor();
    }
    app_->adoptDocument(read);
    sayIfExtrasDamaged();
    stamp_ = seen;
    staleSaid_ = false;
    user_.say(
        path + " changed on disk: read it again, the counts of this run since its last save are dropped",
        Priority::Warning);
    if (monitoring) {
        app_->toggleMonitor();
    }
}

void Daemon::sayIfExtrasDamaged() {
    if (app_->document().extrasDamaged()) {
        user_.say(app_->document().fileName + ": " + kExtrasDamaged + " The file is not saved over.",
                  Priority::Warning);
    }
}

void Daemon::reload() {
    app_->haltMonitor();
    save();
    const std::string docPath = app_->document().fileName.empty() ? o_.document : app_->document().fileName;
    // All or nothing: every file is read into new objects first, and only when all of them
    // can be used are they put in place, the document in one step, so that nobody (the
    // metrics least of all) ever sees an empty or a half-read list.
    std::string why;
    ServerCfg cfg;
    cfg.fileName = configPath_;
    SettingsFile extra;
    ServerDoc read;
    FileStamp seen;
    if (fileExists(configPath_) && !cfg.load(configPath_)) {
        why = configPath_ + ": " + cfg.errorText;
    } else if (!extra.load(settingsPathBeside(configPath_))) {
        why = extra.errorText;
    } else if (seen.take(docPath); !read.load(docPath)) {
        why = docPath + ": " + read.errorText;
    }
    if (!why.empty()) {
        user_.say("nothing was read again, monitoring goes on as before: " + why, Priority::Warning);
    } else {
        cfg.errorText.clear();
        app_->liveConfig().set(cfg);
        Settings settings = extra.settings;
        if (!o_.metricsListen.empty()) {
            settings.metrics.listen = o_.metricsListen;
        }
        app_->liveConfig().updateExtra([&](Settings& s) { s = settings; });
        app_->adoptDocument(read);
        sayIfExtrasDamaged();
        stamp_ = seen;
        staleSaid_ = false;
        user_.say("read " + docPath + " and the settings again");
        for (const ChannelProblem& problem : extra.channelProblems) {
            user_.say(problem.text);
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
    const bool saved = save();
    return onceDone && !ended ? outcome() : saved ? 0 : 1;
}
