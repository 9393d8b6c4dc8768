// The store's file: opened or made with its tables, in WAL mode; a file that is not a store
// or is damaged is moved aside and a new one started.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "history/HistoryTypes.h"
#include "history/Sqlite.h"

inline constexpr int kSchemaVersion = 2;
// How long an open waits for a lock another program holds.
inline constexpr int kLockWaitMs = 5000;

struct OpenedStore {
    std::unique_ptr<Database> db;
    // Why there is no store, or what was done to get one (a damaged file moved aside).
    std::string note;
};

// The writer's connection, made with the tables when missing. Where the file is not an
// SQLite file or is damaged it is renamed to PATH.damaged-YYYYMMDD-HHMMSS and a new one
// started. No db, with note saying why, when it cannot be used at all.
OpenedStore openForWriting(const std::string& path);
// A reader's connection; throws SqliteError when the file cannot be read as a store.
std::unique_ptr<Database> openForReading(const std::string& path);

// The id of a series; none when the store has none of that key.
std::optional<std::int64_t> findSeries(Database& db, const SeriesKey& key);

// The name a damaged file is moved to, for a time in seconds (UTC).
std::string damagedName(const std::string& path, long long seconds);
