#include "history/Schema.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>

namespace {

// Raw checks and the three tiers are WITHOUT ROWID tables keyed by (series, t), so each
// series's rows lie together and a row costs little more than its values.
constexpr const char* kTables = R"sql(
CREATE TABLE IF NOT EXISTS meta(key TEXT PRIMARY KEY, value) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS series(
  id INTEGER PRIMARY KEY, document TEXT NOT NULL, name TEXT NOT NULL, type TEXT NOT NULL,
  address TEXT NOT NULL, twin INTEGER NOT NULL, created INTEGER NOT NULL,
  UNIQUE(document, name, type, address, twin));
CREATE TABLE IF NOT EXISTS checks(
  series INTEGER NOT NULL, t INTEGER NOT NULL, ok INTEGER NOT NULL, ms INTEGER NOT NULL, reason TEXT,
  PRIMARY KEY(series, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS minutes(
  series INTEGER NOT NULL, t INTEGER NOT NULL, good INTEGER NOT NULL, bad INTEGER NOT NULL,
  lo REAL, mean REAL, hi REAL, p95 REAL, PRIMARY KEY(series, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS hours(
  series INTEGER NOT NULL, t INTEGER NOT NULL, good INTEGER NOT NULL, bad INTEGER NOT NULL,
  lo REAL, mean REAL, hi REAL, p95 REAL, PRIMARY KEY(series, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS days(
  series INTEGER NOT NULL, t INTEGER NOT NULL, good INTEGER NOT NULL, bad INTEGER NOT NULL,
  lo REAL, mean REAL, hi REAL, p95 REAL, PRIMARY KEY(series, t)) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS outages(
  id INTEGER PRIMARY KEY, series INTEGER NOT NULL, start INTEGER NOT NULL, end INTEGER, reason TEXT);
CREATE INDEX IF NOT EXISTS outages_by_series ON outages(series, start);
CREATE TABLE IF NOT EXISTS spans(
  id INTEGER PRIMARY KEY, document TEXT NOT NULL, start INTEGER NOT NULL, end INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS spans_by_document ON spans(document, start);
)sql";

// Version 2: when a host's actions were held (muted, flapping).
constexpr const char* kQuietTable = R"sql(
CREATE TABLE IF NOT EXISTS quiet(
  id INTEGER PRIMARY KEY, series INTEGER NOT NULL, kind TEXT NOT NULL, start INTEGER NOT NULL, end INTEGER);
CREATE INDEX IF NOT EXISTS quiet_by_series ON quiet(series, start);
)sql";

bool isDamage(const SqliteError& e) {
    return e.code() == SQLITE_NOTADB || e.code() == SQLITE_CORRUPT;
}

std::unique_ptr<Database> prepareStore(const std::string& path) {
    auto db = std::make_unique<Database>(path, false, kLockWaitMs);
    // SQLite opens a write-protected file for reading alone; nothing could be kept in it.
    if (sqlite3_db_readonly(db->handle(), "main") == 1) {
        throw SqliteError(SQLITE_READONLY, "the file is read-only");
    }
    // Reading the schema is what finds a file that is not a database.
    db->exec("PRAGMA journal_mode=WAL");
    // A commit waits for the log, not for the main file: a crash loses at most the last one.
    db->exec("PRAGMA synchronous=NORMAL");
    const std::optional<std::int64_t> version = [&]() -> std::optional<std::int64_t> {
        if (!db->scalar("SELECT count(*) FROM sqlite_schema WHERE name='meta'").value_or(0)) {
            return std::nullopt;
        }
        return db->scalar("SELECT value FROM meta WHERE key='version'");
    }();
    if (version && *version > kSchemaVersion) {
        throw SqliteError(SQLITE_MISMATCH,
                          "made by a newer version of the program (schema " + std::to_string(*version) + ")");
    }
    if (!version || *version < kSchemaVersion) {
        Transaction t(*db);
        if (!version) {
            db->exec(kTables);
        }
        // Each later schema version adds its step here, from the version found.
        db->exec(kQuietTable);
        db->exec(("INSERT OR REPLACE INTO meta(key, value) VALUES('version', " + std::to_string(kSchemaVersion) + ")")
                     .c_str());
        t.commit();
    }
    return db;
}

}  // namespace

std::string damagedName(const std::string& path, long long seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
    return path + ".damaged-" + stamp;
}

OpenedStore openForWriting(const std::string& path) {
    OpenedStore out;
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
    }
    try {
        out.db = prepareStore(path);
        return out;
    } catch (const SqliteError& e) {
        if (!isDamage(e)) {
            out.note = path + ": " + e.what();
            return out;
        }
    }
    // Never deleted: the owner may want to look at it or recover it.
    const std::string aside = damagedName(path, std::time(nullptr));
    std::filesystem::rename(path, aside, ec);
    if (ec) {
        out.note = path + " is damaged and could not be moved aside: " + ec.message();
        return out;
    }
    for (const char* suffix : {"-wal", "-shm"}) {
        std::filesystem::rename(path + suffix, aside + suffix, ec);
    }
    try {
        out.db = prepareStore(path);
        out.note = path + " was damaged: moved aside to " + aside + ", a new history started";
    } catch (const SqliteError& e) {
        out.note = path + ": " + e.what();
    }
    return out;
}

std::unique_ptr<Database> openForReading(const std::string& path) {
    if (!std::filesystem::exists(path)) {
        throw SqliteError(SQLITE_CANTOPEN, "no such file");
    }
    auto db = std::make_unique<Database>(path, true, kLockWaitMs);
    if (!db->scalar("SELECT count(*) FROM sqlite_schema WHERE name='series'").value_or(0)) {
        throw SqliteError(SQLITE_NOTADB, "not a history store");
    }
    return db;
}

std::optional<std::int64_t> findSeries(Database& db, const SeriesKey& key) {
    Statement s =
        db.prepare("SELECT id FROM series WHERE document=? AND name=? AND type=? AND address=? AND twin=?");
    s.bind(1, key.document).bind(2, key.name).bind(3, key.type).bind(4, key.address);
    s.bind(5, std::int64_t{key.twin});
    if (!s.step()) {
        return std::nullopt;
    }
    const std::int64_t id = s.integer(0);
    s.reset();
    return id;
}
