// vardomond's life: the application without a window, its start-up checks, the loop that
// saves the document after every cycle that changed it, reads the files again on SIGHUP
// (between cycles) and ends on SIGTERM or SIGINT, and the exit status.
#pragma once

#include <memory>
#include <string>

#include "app/Application.h"
#include "daemon/ConsoleOutput.h"
#include "daemon/CycleWatch.h"
#include "daemon/FileStamp.h"
#include "daemon/Options.h"
#include "daemon/SignalWatch.h"

class Daemon {
  public:
    Daemon(DaemonOptions options, SignalWatch& signals);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // 0 after SIGTERM or SIGINT, 1 when the document could not be saved then; with --once 0
    // when every host is up and 1 when any is down or failed; 2 when the document, the
    // settings or the metrics address cannot be used.
    int run();

  private:
    bool start();
    // Reads path into read, taking its stamp first: a change made during the read shows as
    // a change later. Says why when it cannot.
    bool readDocument(const std::string& path, ServerDoc& read, FileStamp& seen);
    void reload();
    // False when the document could not be saved.
    bool save();
    void takeChangedFile();
    // A document whose extended host settings could not be read is monitored but never saved
    // over; says so once per read.
    void sayIfExtrasDamaged();
    int outcome() const;

    DaemonOptions o_;
    SignalWatch& signals_;
    LineWriter out_;
    LineWriter err_;
    ConsoleEventLog events_;
    ConsoleAlerts alerts_;
    ConsoleUser user_;
    CycleWatch cycles_;
    std::string configPath_;
    FileStamp stamp_;
    bool staleSaid_ = false;
    bool saveFailureSaid_ = false;
    // Last: its monitor thread reports to the members above.
    std::unique_ptr<Application> app_;
};
