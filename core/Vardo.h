// The core types of Kestrune Vardomon: one monitored host (ServerItem), the host list
// (ServerDoc), the application settings (ServerCfg) and the number-to-text helper.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/HostExtras.h"

enum HostType : std::int8_t { HostTcpIp = 0, HostPing = 1, HostService = 2 };

// TcpHttpRequest goes beyond the record's three sub-types: its address holds a URL, its
// settings live in the host's extended settings.
enum TcpCheckType : std::int8_t {
    TcpConnectOnly = 0,
    TcpConnectReceive = 1,
    TcpConnectSendReceive = 2,
    TcpHttpRequest = 3,
};

enum CheckStatus : std::int32_t { StatusFailure = 0, StatusSuccess = 1, StatusChecking = 2 };

// What happens on a transition, apart from the notifications.
struct EventData {
    bool upSound = false;
    bool downSound = false;
    bool upCmd = false;
    bool downCmd = false;
    bool shutdown = false;
    bool startService = false;
    std::string upSoundFile;
    std::string downSoundFile;
    std::string upCmdLine;
    std::string downCmdLine;
    std::string shutdownMachine;
    std::string startServiceName;

    bool operator==(const EventData&) const = default;
};

// Who is told about a transition, and how.
struct NotifyData {
    bool notifyUp = false;
    bool notifyDown = true;
    bool msgBox = false;
    bool sendMails = true;
    bool netSend = false;
    std::string upMsg;
    std::string downMsg = "The server %s went down at %t";
    std::string mailList;
    std::string netSendList;

    bool operator==(const NotifyData&) const = default;
};

// One monitored host. The type and tcpType fields are kept as raw 8-bit values because a
// document may carry values outside the enumerations, and those have defined behaviour.
struct ServerItem {
    std::int8_t type = HostTcpIp;
    std::string name;
    std::string address;
    std::string description;
    std::string service;
    std::int32_t goodCount = 0;
    std::int32_t badCount = 0;
    std::int32_t failuresAllowed = 0;
    std::int32_t consecutiveFailures = 0;
    std::int32_t status = StatusFailure;
    std::int32_t tcpPort = 0;
    std::int32_t numPings = 1;
    std::int32_t pingSeconds = 1;
    std::int8_t tcpType = TcpConnectOnly;
    std::string recvText;
    std::string sendText;
    EventData events;
    NotifyData notify;

    bool operator==(const ServerItem&) const = default;

    // A host counts as down exactly while its consecutive failures exceed the failures allowed.
    bool isDown() const { return consecutiveFailures > failuresAllowed; }

    // Copies the four fields that only the check cycle writes.
    void copyRunTimeFrom(const ServerItem& other) {
        goodCount = other.goodCount;
        badCount = other.badCount;
        consecutiveFailures = other.consecutiveFailures;
        status = other.status;
    }
};

// The host list with its file name, last error and modified flag. The list sits behind one
// mutex, since the GUI thread edits it while the monitor thread checks its hosts. The
// monitor never holds the lock across a probe: it takes a snapshot of one host, checks the
// copy, and writes back only the run-time fields, so an edit made meanwhile survives.
class ServerDoc {
  public:
    // Identifies one element for the whole of its life in the list; a removed host's id is
    // never reused, so a write-back can find its host even when others moved around it.
    using ItemId = std::uint64_t;

    struct Snapshot {
        ServerItem item;
        ItemId id = 0;
        std::size_t index = 0;
        HostExtras extras;
    };

    std::string fileName;
    std::string errorText;
    // The system's reason behind errorText ("Read-only file system"), when it has one.
    std::string errorReason;
    std::atomic<bool> modified{false};

    ServerDoc() = default;
    ServerDoc(const ServerDoc& other);
    ServerDoc& operator=(const ServerDoc& other);

    void append(const ServerItem& item, HostExtras extras = {});
    // Takes the configuration fields of the record and keeps the run-time fields the list
    // holds at this moment: a dialog left open while the monitor checks must not roll back
    // counts or an up/down state. The host's extended settings stay as they are. Returns
    // false when index is out of range.
    bool replace(std::size_t index, const ServerItem& item);
    // The extended settings of element index; false (or nothing) when out of range.
    bool setExtras(std::size_t index, HostExtras extras);
    std::optional<HostExtras> extrasAt(std::size_t index) const;
    bool remove(std::size_t index);
    void reset();

    std::size_t count() const;
    // A copy of element index; std::nullopt when out of range.
    std::optional<ServerItem> at(std::size_t index) const;
    // A copy of the whole list, in order.
    std::vector<ServerItem> items() const;

    // The monitor's view of host index: a copy and the element's id.
    std::optional<Snapshot> snapshot(std::size_t index) const;
    // Writes the run-time fields of checked into the element that had the snapshot's id,
    // wherever it now is, and marks the document modified. Returns the element's index now,
    // or nothing when it was removed. current, when given, receives the element as it is
    // after the write-back (its settings may have been edited since the snapshot).
    std::optional<std::size_t> writeBack(const Snapshot& snap, const ServerItem& checked,
                                         ServerItem* current = nullptr);
    // Where the element of the snapshot is now; nothing when it was removed.
    std::optional<std::size_t> indexOf(const Snapshot& snap) const;

    // Document file (.vdm); defined with the storage layer. beforeReplace, when given, is
    // asked once the new file is written: false leaves the file on disk as it is.
    bool save(const std::function<bool()>& beforeReplace = {});
    bool load(const std::string& path);

    // Appends records read from a file as one step; extras is empty (no host has any) or
    // holds one set per record.
    void appendAll(std::vector<ServerItem>&& records, std::vector<HostExtras>&& extras = {});
    // Runs read on the list while holding the lock, for readers that need all of it at
    // once without a copy. read must not call back into the document.
    void withItems(const std::function<void(const std::vector<ServerItem>&)>& read) const;
    // The same with the extended settings, one set per element (the file writer).
    void withItemsAndExtras(
        const std::function<void(const std::vector<ServerItem>&, const std::vector<HostExtras>&)>& read) const;

    // The file this document was read from held extended settings that could not be read.
    // Saving over that file would lose them, so save() refuses it until the user agreed.
    bool extrasDamaged() const;
    // Whether a save to fileName now would be that overwrite.
    bool savingLosesExtras() const;
    void acceptExtrasLoss();

  private:
    // indexOf with the lock held.
    std::optional<std::size_t> findLocked(const Snapshot& snap) const;

    mutable std::mutex mutex_;
    // Element i is items_[i]; ids_[i] is its id and extras_[i] its extended settings.
    std::vector<ServerItem> items_;
    std::vector<ItemId> ids_;
    std::vector<HostExtras> extras_;
    // The path whose damaged extended settings a save must not overwrite unasked.
    std::string damagedExtrasPath_;
    ItemId nextId_ = 1;
};

// The application-wide settings. A plain value; the live copy that several threads share
// is a LiveConfig (core/LiveConfig.h).
struct ServerCfg {
    std::string fileName;
    std::string errorText;
    // The system's reason behind errorText ("Read-only file system"), when it has one.
    std::string errorReason;
    std::string mailServer;
    std::string fromAddress;
    std::string fromName;
    std::string mailSubject;
    std::string dialPrefix;
    std::string lastDoc;
    std::string logFile;
    std::int32_t interval = 1;
    std::int32_t connectTimeout = 5000;
    std::int32_t openLast = 1;
    std::int32_t doLog = 0;

    bool operator==(const ServerCfg&) const = default;

    // Configuration file (vardo.cfg); defined with the storage layer.
    bool load(const std::string& path);
    bool save();
};

// The integer as decimal text; throws std::invalid_argument("Bad conversion") if the
// conversion fails.
std::string stringify(long long value);

// Reads a number the way atol does: leading blanks and a sign, then digits up to the first
// other character; no digits give 0. Values beyond 32 bits saturate instead of wrapping.
std::int32_t atolText(const std::string& text);

// The text up to its first NUL byte: texts are stored that way everywhere.
std::string cutAtNul(const std::string& text);
