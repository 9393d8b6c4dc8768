// The application's state and commands, without any toolkit: the document, the settings,
// the monitor flags and thread, and what start-up, first show, the document commands, the
// host commands, the options and shutdown do with them. The window owns one and forwards
// its commands here; questions, file names and the host record come through UserInteraction.
#pragma once

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "alerts/TestMail.h"
#include "app/UserInteraction.h"
#include "core/AlertGate.h"
#include "core/Clock.h"
#include "core/FanOutView.h"
#include "core/LiveConfig.h"
#include "core/Monitor.h"
#include "core/MonitorView.h"
#include "core/ProbePool.h"
#include "core/Vardo.h"
#include "history/HistoryTypes.h"
#include "platform/MessageSink.h"
#include "storage/SettingsFile.h"

inline constexpr const char* kAppTitle = "Kestrune Vardomon";

class MetricsExporter;
class HistoryWriter;
class HistoryView;
class NotificationChannels;

// The parts the monitor cycle runs on.
struct AppComponents {
    std::unique_ptr<HostProbes> probes;
    // Makes another probe set with a socket, pinger and service connection of its own, for
    // each check that runs beside others; empty: one check at a time whatever the settings.
    ProbePool::Maker makeProbes;
    // How many such sets the process's descriptors leave room for.
    std::size_t mostChecksAtOnce = std::numeric_limits<std::size_t>::max();
    std::unique_ptr<HostAlerts> alerts;
    std::unique_ptr<Clock> clock;
    // The alerts' notification channels, when they have any: closed after the monitor, and
    // counted by the metrics.
    NotificationChannels* channels = nullptr;
    // Why a part could not be set up (the ping socket), shown once when the window first
    // shows; empty when all is well.
    std::string startupError;
};

// What the components share with the application: the live settings (timeouts, mail and
// log settings), the flags (connectState), the view (status bar texts of the actions) and
// the message sink (alert message boxes).
struct ComponentContext {
    LiveConfig& cfg;
    MonitorFlags& flags;
    MonitorView& view;
    MessageSink& messages;
};

using ComponentFactory = std::function<AppComponents(const ComponentContext&)>;

// Which grid Edit and Remove take their host from.
enum class GridSource { HostGrid, ResultGrid };

class Application {
  public:
    struct Ui {
        MonitorView& view;
        UserQuestions& questions;
        FileChooser& files;
        HostEditor& editor;
        MessageSink& messages;
    };

    // Loads the settings from configPath and settings.toml beside it; a missing or unusable
    // file leaves the defaults.
    Application(Ui ui, const std::string& configPath, const ComponentFactory& makeComponents);
    // Ends a monitor thread that is still running before anything it uses goes away.
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    ServerDoc& document() { return doc_; }
    const ServerDoc& document() const { return doc_; }
    LiveConfig& liveConfig() { return cfg_; }
    ServerCfg settings() const { return cfg_.get(); }
    MonitorFlags& flags() { return flags_; }

    // After the window has filled its option controls from settings(): the start-up error
    // of a component, a malformed settings.toml, the metrics, the log file test, the last
    // document, and both grids.
    void firstShow();

    // What could not be used at start-up (the ping socket; settings.toml); empty when all
    // is well.
    const std::string& startupError() const { return parts_.startupError; }
    const std::string& settingsError() const { return extraFile_.errorText; }
    // The [[channels]] entries left out, each with its file, line and key.
    const std::vector<ChannelProblem>& channelProblems() const { return extraFile_.channelProblems; }

    // Serves the metrics where settings.toml says, if it says so; before monitoring starts.
    // False, with metricsError(), when the address cannot be used.
    bool serveMetrics();
    const std::string& metricsError() const { return metricsError_; }
    // Where they are served ("127.0.0.1:9469"); empty when they are not.
    std::string metricsAddress() const;

    // Starts keeping the history where settings.toml says, if it is enabled; before
    // monitoring starts. False when the store cannot be used: monitoring goes on without it
    // and historyNote() says why (as it says when a damaged file was moved aside).
    bool startHistory();
    const std::string& historyNote() const { return historyNote_; }
    // The store's file, whether or not it is kept.
    std::string historyPath() const;
    Retention historyRetention() const;
    // The series host index writes to, while the history is kept.
    std::optional<SeriesKey> historySeries(std::size_t index) const;

    // Document commands. Each returns whether it was done (false: refused, cancelled or
    // failed).
    bool promptAndReset();
    bool openDocument();
    bool saveDocument();
    bool saveDocumentAs();
    // New and Open as the menu runs them, with the rebuild of both grids.
    void newCommand();
    void openCommand();
    // Opens path the way Open does after its dialog (the program's argument); the current
    // document goes first, with the question when it is modified.
    bool openPath(const std::string& path);
    // Puts a document read beforehand in place of this one in one step, with no question:
    // the views go from the old list straight to the new one, never through an empty one.
    // Only while the monitor is halted.
    void adoptDocument(const ServerDoc& read);

    // The close of the window. Returns false when the close is refused: the user wanted
    // the changes saved and the save failed or its dialog was cancelled. The document then
    // stays as it was and monitoring carries on if it was on.
    bool shutdown();

    // Start/Stop; returns whether monitoring is now on.
    bool toggleMonitor();
    bool isMonitoring() const { return flags_.running; }
    void checkNow() { monitor_.checkNow(); }
    // Ends monitoring at once, without waiting for the cycle to finish: a check under way is
    // cut short and counts for nothing.
    void haltMonitor();

    // Host commands; index is the first selected row of the source grid, if any.
    void addHost();
    void editHost(std::optional<std::size_t> index, GridSource source);
    void removeHost(std::optional<std::size_t> index);

    // Options. Every change reaches the live settings at once; nothing goes to disk before
    // shutdown.
    void updateSettings(const std::function<void(ServerCfg&)>& change) { cfg_.update(change); }
    // "Log Events:" ticked or unticked; a tick tests the log file.
    void setLogEnabled(bool on);
    // "Set": takes the new log file name and tests it when logging is on.
    void setLogFile(const std::string& path);
    // Opens the log file once and says so when it cannot (logging on, name not empty).
    void testOpenLog();
    // "Send Test Mail": the test mail to recipients (separated by commas) with the settings
    // as they are now. It waits for the mail server, so the window calls it on a thread of
    // its own; a close ends it.
    TestMailResult sendTestMail(const std::string& recipients);

    // Mutes: changed in the live settings and written to settings.toml at once. False, with
    // settingsError(), when the file could not be written; the change holds for this run.
    bool changeMutes(const std::function<void(HostMutes&)>& change);
    // Whether host index is muted, flapping or held by a parent that is down; safe from any
    // thread.
    QuietState quietOf(std::size_t index) const;
    std::time_t now() const { return parts_.clock->now(); }

  private:
    bool loadInto(const std::string& path);
    // Asks before a save would overwrite extended host settings that could not be read;
    // false when the user said no.
    bool confirmExtrasLoss();

    Ui ui_;
    ServerDoc doc_;
    // settings.toml as it was read: saved at shutdown only when a setting changed.
    SettingsFile extraFile_;
    LiveConfig cfg_;
    MonitorFlags flags_;
    // The front end's view, and the metrics' when they are served.
    FanOutView view_;
    AppComponents parts_;
    ProbePool pool_;
    // After the parts: the metrics time checks with their clock.
    std::unique_ptr<MetricsExporter> metrics_;
    std::string metricsError_;
    // After the parts: the history's notices go to their log.
    std::unique_ptr<HistoryWriter> historyWriter_;
    std::unique_ptr<HistoryView> historyView_;
    std::string historyNote_;
    TestMailSender testMail_;
    AlertGate gate_;
    // Last: destroyed first, so the thread is gone before the parts it uses.
    Monitor monitor_;
};
