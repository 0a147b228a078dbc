#pragma once
// A prepared SQLite statement that finalizes itself. Values are always bound,
// never pasted into the statement text, so a path or a profile name with a
// quote in it is stored like any other.
#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace ostel::persistence {

class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql) {
        if (db && sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;
    ~SqlStatement() { sqlite3_finalize(stmt_); }

    bool prepared() const { return stmt_ != nullptr; }
    // Parameters count from 1. Each returns false when binding failed.
    bool bind(int index, int64_t v) { return stmt_ && sqlite3_bind_int64(stmt_, index, v) == SQLITE_OK; }
    bool bind(int index, int v) { return bind(index, int64_t(v)); }
    bool bind(int index, double v) { return stmt_ && sqlite3_bind_double(stmt_, index, v) == SQLITE_OK; }
    bool bind(int index, const std::string& v) {
        return stmt_ && sqlite3_bind_text(stmt_, index, v.data(), int(v.size()), SQLITE_TRANSIENT) == SQLITE_OK;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE; }
    // Runs a statement that returns no rows; true when it completed.
    bool run() {
        const int rc = step();
        return rc == SQLITE_DONE || rc == SQLITE_ROW;
    }
    void reset() {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    bool is_null(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    double real(int column) const { return sqlite3_column_double(stmt_, column); }
    int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    std::string text(int column) const {
        const unsigned char* t = sqlite3_column_text(stmt_, column);
        return t ? std::string(reinterpret_cast<const char*>(t), size_t(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace ostel::persistence
