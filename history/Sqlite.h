// A thin owner of an SQLite connection and its prepared statements. Errors are thrown as
// SqliteError with SQLite's code and text, so a caller can tell a full disk from a damaged
// file.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

class SqliteError : public std::runtime_error {
  public:
    SqliteError(int code, const std::string& text) : std::runtime_error(text), code_(code) {}
    // The primary result code (SQLITE_FULL, SQLITE_BUSY, SQLITE_CORRUPT, ...).
    int code() const { return code_ & 0xff; }

  private:
    int code_;
};

class Statement {
  public:
    Statement(sqlite3* db, std::string_view sql);
    Statement(Statement&&) noexcept = default;
    Statement& operator=(Statement&&) noexcept = default;

    // Binds by position from 1; a null optional binds NULL.
    Statement& bind(int i, std::int64_t v);
    Statement& bind(int i, double v);
    Statement& bind(int i, std::string_view v);
    Statement& bindNull(int i);
    // The next row: true while there is one. Resets on the end or on an error.
    bool step();
    // Runs it to the end and resets it for the next use.
    void run();
    void reset();

    std::int64_t integer(int col) const { return sqlite3_column_int64(st_.get(), col); }
    double real(int col) const { return sqlite3_column_double(st_.get(), col); }
    bool isNull(int col) const { return sqlite3_column_type(st_.get(), col) == SQLITE_NULL; }
    std::string text(int col) const;

  private:
    struct Finalize {
        void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
    };
    sqlite3* db_;
    std::unique_ptr<sqlite3_stmt, Finalize> st_;
};

class Database {
  public:
    // Opens (or with create, makes) the file; throws SqliteError when it cannot. Waits up to
    // busyMs for a lock another connection holds.
    Database(const std::string& path, bool readOnly, int busyMs);

    sqlite3* handle() const { return db_.get(); }
    void exec(const char* sql);
    // The first column of the first row of a query that takes no parameters.
    std::optional<std::int64_t> scalar(const char* sql);
    Statement prepare(std::string_view sql) { return Statement(db_.get(), sql); }

  private:
    struct Close {
        void operator()(sqlite3* d) const { sqlite3_close_v2(d); }
    };
    std::unique_ptr<sqlite3, Close> db_;
};

// Commits at commit(), rolls back when left without it.
class Transaction {
  public:
    explicit Transaction(Database& db) : db_(db) { db_.exec("BEGIN IMMEDIATE"); }
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void commit();

  private:
    Database& db_;
    bool done_ = false;
};
