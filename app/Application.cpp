#include "app/Application.h"

#include <stdexcept>
#include <utility>

#include "alerts/EventLog.h"
#include "alerts/NotificationChannels.h"
#include "core/ListenAddress.h"
#include "history/HistoryView.h"
#include "history/HistoryWriter.h"
#include "history/SeriesNames.h"
#include "metrics/MetricsExporter.h"
#include "platform/ConfigLocation.h"

namespace {

AppComponents checked(AppComponents parts) {
    if (!parts.probes || !parts.alerts || !parts.clock) {
        throw std::logic_error("The monitor's components are incomplete");
    }
    return parts;
}

// A missing or unusable file leaves the defaults; its name is kept for the save at
// shutdown either way.
ServerCfg loadSettings(const std::string& path) {
    ServerCfg cfg;
    cfg.load(path);
    return cfg;
}

// A malformed settings.toml leaves the defaults; the window says why at first show.
Settings loadExtra(SettingsFile& file, const std::string& configPath) {
    file.load(settingsPathBeside(configPath));
    return file.settings;
}

}  // namespace

Application::Application(Ui ui, const std::string& configPath, const ComponentFactory& makeComponents)
    : ui_(ui),
      cfg_(loadSettings(configPath), loadExtra(extraFile_, configPath)),
      view_(ui.view),
      parts_(checked(makeComponents(ComponentContext{cfg_, flags_, view_, ui.messages}))),
      pool_(parts_.makeProbes, parts_.mostChecksAtOnce),
      monitor_(MonitorContext{doc_, cfg_, flags_, *parts_.probes, *parts_.alerts, view_, *parts_.clock,
                              parts_.makeProbes ? &pool_ : nullptr, &gate_}) {
    if (parts_.channels != nullptr) {
        // Reminders only while the host is monitored, in this document, down, and its
        // actions are not held (muted, flapping, or behind a parent that is down).
        parts_.channels->setStillDown([this](const ServerItem& host) {
            for (std::size_t i = 0; flags_.running; ++i) {
                const std::optional<ServerDoc::Snapshot> at = doc_.snapshot(i);
                if (!at) {
                    break;
                }
                const ServerItem& it = at->item;
                if (it.name == host.name && it.address == host.address && it.type == host.type) {
                    const QuietState quiet = quietOf(i);
                    return it.isDown() && !quiet.muted && !quiet.flapping && !quiet.suppressed;
                }
            }
            return false;
        });
    }
}

Application::~Application() {
    monitor_.cancelAndJoin();
    if (historyView_) {
        historyView_->monitoringStopped(parts_.clock->now());
    }
    // The writer's last batch may fail and say so through the views, its own among them:
    // it ends while they are all still there.
    historyWriter_.reset();
    // Queued notifications get a short while to go; the metrics that count them are still here.
    if (parts_.channels != nullptr) {
        parts_.channels->close();
    }
}

void Application::firstShow() {
    if (!parts_.startupError.empty()) {
        ui_.questions.showMessage(parts_.startupError);
    }
    if (!extraFile_.errorText.empty()) {
        ui_.questions.showMessage(extraFile_.errorText);
    }
    if (!extraFile_.channelProblems.empty()) {
        std::string text = "These notification channels are not used:";
        for (const ChannelProblem& p : extraFile_.channelProblems) {
            text += "\r\n" + p.text;
        }
        ui_.questions.showMessage(text);
    }
    if (!serveMetrics()) {
        ui_.questions.showMessage(metricsError_);
    }
    startHistory();
    testOpenLog();
    const ServerCfg cfg = cfg_.get();
    if (cfg.openLast != 0 && !cfg.lastDoc.empty()) {
        if (!doc_.load(cfg.lastDoc)) {
            ui_.questions.showMessage("Failed to open last document:\r\n" + doc_.errorText);
        } else if (doc_.extrasDamaged()) {
            ui_.questions.showMessage(kExtrasDamaged);
        }
    }
    view_.refreshAllRows();
}

bool Application::changeMutes(const std::function<void(HostMutes&)>& change) {
    cfg_.updateExtra([&](Settings& s) { change(s.monitor.mutes); });
    // Only the mutes: the other settings changed in this run are written at shutdown.
    extraFile_.settings.monitor.mutes = cfg_.extra().monitor.mutes;
    return extraFile_.save();
}

QuietState Application::quietOf(std::size_t index) const {
    const std::optional<ServerDoc::Snapshot> host = doc_.snapshot(index);
    if (!host) {
        return {};
    }
    return gate_.stateOf(host->id, host->item.name, cfg_.extra().monitor.mutes, parts_.clock->now());
}

bool Application::promptAndReset() {
    if (doc_.modified && ui_.questions.askYesNo("Do you want to save changes?")) {
        if (!saveDocument()) {
            return false;
        }
    }
    doc_.reset();
    view_.refreshAllRows();
    return true;
}

bool Application::loadInto(const std::string& path) {
    if (!doc_.load(path)) {
        ui_.questions.showMessage("Failed to open file:\r\n" + doc_.errorText);
        return false;
    }
    if (doc_.extrasDamaged()) {
        ui_.questions.showMessage(kExtrasDamaged);
    }
    const std::string name = doc_.fileName;
    cfg_.update([&](ServerCfg& c) { c.lastDoc = name; });
    return true;
}

bool Application::openDocument() {
    if (!promptAndReset()) {
        return false;
    }
    const std::optional<std::string> path = ui_.files.chooseOpenPath();
    if (!path) {
        return false;
    }
    return loadInto(*path);
}

bool Application::openPath(const std::string& path) {
    if (!promptAndReset()) {
        return false;
    }
    const bool ok = loadInto(path);
    view_.refreshAllRows();
    return ok;
}

bool Application::confirmExtrasLoss() {
    if (!doc_.savingLosesExtras()) {
        return true;
    }
    if (!ui_.questions.askYesNo(std::string(kExtrasDamaged) +
                                " Saving over the file removes them from it. Save anyway?")) {
        return false;
    }
    doc_.acceptExtrasLoss();
    return true;
}

void Application::adoptDocument(const ServerDoc& read) {
    doc_ = read;
    const std::string name = doc_.fileName;
    cfg_.update([&](ServerCfg& c) { c.lastDoc = name; });
    view_.refreshAllRows();
}

bool Application::saveDocument() {
    if (doc_.fileName.empty()) {
        return saveDocumentAs();
    }
    if (!confirmExtrasLoss()) {
        return false;
    }
    if (!doc_.save()) {
        ui_.questions.showMessage("Failed to save file.");
        return false;
    }
    return true;
}

bool Application::saveDocumentAs() {
    const std::optional<std::string> path = ui_.files.chooseSavePath();
    if (!path) {
        return false;
    }
    const std::string previous = doc_.fileName;
    doc_.fileName = *path;
    doc_.modified = true;
    if (!confirmExtrasLoss()) {
        doc_.fileName = previous;
        return false;
    }
    if (!doc_.save()) {
        doc_.fileName = previous;
        ui_.questions.showMessage("Failed to save file.");
        return false;
    }
    const std::string name = doc_.fileName;
    cfg_.update([&](ServerCfg& c) { c.lastDoc = name; });
    return true;
}

void Application::newCommand() {
    promptAndReset();
    view_.refreshAllRows();
}

void Application::openCommand() {
    openDocument();
    view_.refreshAllRows();
}

bool Application::shutdown() {
    view_.setStatusText("Shutting Down...");
    const bool wasMonitoring = flags_.running;
    monitor_.stop();
    if (!promptAndReset()) {
        // Closing now would throw away the changes the user has just asked to keep.
        if (wasMonitoring) {
            monitor_.start();
        } else {
            view_.setStatusText("Idle");
        }
        return false;
    }
    // A test mail still waiting for its server would keep the window's thread.
    testMail_.cancel();
    if (!monitor_.waitDone(21)) {
        // A probe or a mail dialogue is still waiting; end it rather than leave a thread
        // running on members that are about to go.
        monitor_.cancelAndJoin();
    }
    ServerCfg cfg = cfg_.get();
    cfg.save();
    // Written only when a setting changed, so a file its owner keeps by hand stays as it is.
    if (const Settings extra = cfg_.extra(); !(extra == extraFile_.settings)) {
        extraFile_.settings = extra;
        // The changes made in this run are lost: say so, with the file and the reason.
        if (!extraFile_.save()) {
            ui_.questions.showMessage(extraFile_.errorText);
        }
    }
    return true;
}

bool Application::serveMetrics() {
    const std::string listen = cfg_.extra().metrics.listen;
    if (listen.empty() || metrics_) {
        return true;
    }
    const std::optional<ListenAddress> at = parseListenAddress(listen);
    if (!at) {
        metricsError_ = "Cannot serve the metrics on \"" + listen + "\": not an address and a port";
        return false;
    }
    auto metrics = std::make_unique<MetricsExporter>(doc_, *parts_.clock, flags_.running,
                                                     [this](std::size_t i) { return quietOf(i); });
    if (!metrics->start(*at)) {
        metricsError_ = "Cannot serve the metrics on " + metrics->error();
        return false;
    }
    metrics_ = std::move(metrics);
    view_.add(metrics_->view());
    if (parts_.channels != nullptr) {
        parts_.channels->setOutcomeObserver([&counts = metrics_->notifications()](const std::string& channel,
                                                                                 bool sent) {
            counts.count(channel, sent);
        });
    }
    return true;
}

std::string Application::metricsAddress() const {
    return metrics_ ? metrics_->address().text() : std::string();
}

std::string Application::historyPath() const {
    const std::string path = cfg_.extra().history.path;
    return path.empty() ? historyFilePath() : path;
}

Retention Application::historyRetention() const {
    const HistorySettings h = cfg_.extra().history;
    return Retention{h.keepChecksDays, h.keepMinutesDays, h.keepHoursDays};
}

std::optional<SeriesKey> Application::historySeries(std::size_t index) const {
    const std::vector<SeriesKey> keys = seriesKeys(documentKey(doc_.fileName), doc_.items());
    if (!historyWriter_ || index >= keys.size()) {
        return std::nullopt;
    }
    return keys[index];
}

bool Application::startHistory() {
    const HistorySettings h = cfg_.extra().history;
    if (!h.enabled || historyWriter_) {
        return true;
    }
    HistoryWriter::Options o;
    o.path = historyPath();
    o.keep = historyRetention();
    // The writer's thread: the status bar and the log take texts from any thread.
    o.notice = [this](const std::string& text) {
        view_.setStatusText(text);
        parts_.alerts->logEvent(text, parts_.clock->now());
    };
    auto writer = std::make_unique<HistoryWriter>(std::move(o));
    const bool started = writer->start();
    historyNote_ = started || writer->note().empty() ? writer->note() : "History off: " + writer->note();
    if (!historyNote_.empty()) {
        view_.setStatusText(historyNote_);
        parts_.alerts->logEvent(historyNote_, parts_.clock->now());
    }
    if (!started) {
        return false;
    }
    historyWriter_ = std::move(writer);
    historyView_ = std::make_unique<HistoryView>(doc_, *historyWriter_);
    historyView_->refreshAllRows();
    view_.add(*historyView_);
    return true;
}

void Application::haltMonitor() {
    monitor_.cancelAndJoin();
    if (historyView_) {
        historyView_->monitoringStopped(parts_.clock->now());
    }
}

bool Application::toggleMonitor() {
    const bool on = monitor_.toggle();
    if (!on && historyView_) {
        historyView_->monitoringStopped(parts_.clock->now());
    }
    return on;
}

void Application::addHost() {
    ServerItem record;
    HostEdit beside = hostEditFor(doc_, std::nullopt);
    if (ui_.editor.editHostWith(record, beside)) {
        doc_.append(record, beside.extras);
    }
    view_.refreshAllRows();
}

void Application::editHost(std::optional<std::size_t> index, GridSource source) {
    if (!index) {
        return;
    }
    std::optional<ServerItem> record = doc_.at(*index);
    if (!record) {
        return;
    }
    HostEdit beside = hostEditFor(doc_, index);
    const bool confirmed = ui_.editor.editHostWith(*record, beside);
    if (confirmed) {
        doc_.replace(*index, *record);
        doc_.setExtras(*index, beside.extras);
        if (historyView_) {
            historyView_->hostReplaced(*index);
        }
    }
    // A cancelled edit from the result grid leaves both grids (and their selection) alone.
    if (confirmed || source == GridSource::HostGrid) {
        view_.refreshAllRows();
    }
}

void Application::removeHost(std::optional<std::size_t> index) {
    if (!index || *index >= doc_.count()) {
        return;
    }
    if (!ui_.questions.askYesNo("Are you sure you want to remove this item?")) {
        return;
    }
    doc_.remove(*index);
    view_.refreshAllRows();
}

void Application::setLogEnabled(bool on) {
    cfg_.update([&](ServerCfg& c) { c.doLog = on ? 1 : 0; });
    if (on) {
        testOpenLog();
    }
}

void Application::setLogFile(const std::string& path) {
    cfg_.update([&](ServerCfg& c) { c.logFile = path; });
    testOpenLog();
}

void Application::testOpenLog() {
    const ServerCfg cfg = cfg_.get();
    if (cfg.doLog == 0 || cfg.logFile.empty()) {
        return;
    }
    // The test runs on the window's thread: its message is a box like any other of the
    // window's, in order with the start-up messages.
    class Questions : public MessageSink {
      public:
        explicit Questions(UserQuestions& q) : q_(q) {}
        void showMessageAsync(const std::string& text) override { q_.showMessage(text); }

      private:
        UserQuestions& q_;
    } sink(ui_.questions);
    ::testOpenLog(cfg_, sink);
}

TestMailResult Application::sendTestMail(const std::string& recipients) {
    return testMail_.send(testMail(cfg_.get(), cfg_.extra().mail, recipients, parts_.clock->now()));
}
