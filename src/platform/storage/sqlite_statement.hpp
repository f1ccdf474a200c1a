// A prepared SQLite statement, finalised when it goes out of scope, with the few helpers the
// library's stores need.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>

namespace kestrel::platform {

struct SqliteStatement {
    sqlite3_stmt* stmt = nullptr;
    SqliteStatement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) stmt = nullptr;
    }
    ~SqliteStatement() { sqlite3_finalize(stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;
    explicit operator bool() const { return stmt != nullptr; }
    SqliteStatement& bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt, index, value);
        return *this;
    }
    SqliteStatement& bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    // Runs a statement that returns no rows; true when it completed.
    bool run() { return stmt && sqlite3_step(stmt) == SQLITE_DONE; }
    std::string text(int column) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column)))
                 : std::string();
    }
};

} // namespace kestrel::platform
