#include "history/Sqlite.h"

namespace {

[[noreturn]] void fail(sqlite3* db, int code) {
    throw SqliteError(sqlite3_extended_errcode(db) != 0 ? sqlite3_extended_errcode(db) : code,
                      db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code));
}

void check(sqlite3* db, int code) {
    if (code != SQLITE_OK) {
        fail(db, code);
    }
}

}  // namespace

Statement::Statement(sqlite3* db, std::string_view sql) : db_(db) {
    sqlite3_stmt* raw = nullptr;
    check(db, sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                 &raw, nullptr));
    st_.reset(raw);
}

Statement& Statement::bind(int i, std::int64_t v) {
    check(db_, sqlite3_bind_int64(st_.get(), i, v));
    return *this;
}

Statement& Statement::bind(int i, double v) {
    check(db_, sqlite3_bind_double(st_.get(), i, v));
    return *this;
}

Statement& Statement::bind(int i, std::string_view v) {
    check(db_, sqlite3_bind_text(st_.get(), i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement& Statement::bindNull(int i) {
    check(db_, sqlite3_bind_null(st_.get(), i));
    return *this;
}

bool Statement::step() {
    const int rc = sqlite3_step(st_.get());
    if (rc == SQLITE_ROW) {
        return true;
    }
    sqlite3_reset(st_.get());
    if (rc != SQLITE_DONE) {
        fail(db_, rc);
    }
    return false;
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(st_.get());
    sqlite3_clear_bindings(st_.get());
}

std::string Statement::text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st_.get(), col));
    return p != nullptr ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(st_.get(), col)))
                        : std::string();
}

Database::Database(const std::string& path, bool readOnly, int busyMs) {
    sqlite3* raw = nullptr;
    const int flags =
        (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) {
        fail(raw, rc);
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3_busy_timeout(raw, busyMs);
}

void Database::exec(const char* sql) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db_.get(), sql, nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        const std::string text = message != nullptr ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw SqliteError(sqlite3_extended_errcode(db_.get()), text);
    }
}

std::optional<std::int64_t> Database::scalar(const char* sql) {
    Statement s = prepare(sql);
    if (!s.step()) {
        return std::nullopt;
    }
    std::optional<std::int64_t> v;
    if (!s.isNull(0)) {
        v = s.integer(0);
    }
    s.reset();
    return v;
}

Transaction::~Transaction() {
    if (!done_) {
        // Nothing to do about a failed rollback: the connection is given up on anyway.
        sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
}

void Transaction::commit() {
    db_.exec("COMMIT");
    done_ = true;
}
