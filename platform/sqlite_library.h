#pragma once

// SQLite's C API, loaded from libsqlite3 for as long as something holds it: linked, its code would
// stay resident for good, over a megabyte, in a program that writes its journal once a minute and
// reads it only while the History window shows. The journal's writer and its reader load the same
// library: one copy of SQLite per process, whose locks both share.

#include <sqlite3.h>

#include <QString>
#include <memory>

namespace nodrel::platform {

// clang-format off
#define NODREL_SQLITE_LIBRARY_FUNCTIONS(X) \
    X(open_v2) X(close_v2) X(errmsg) X(errstr) X(system_errno) \
    X(busy_timeout) X(exec) X(prepare_v2) X(finalize) X(reset) X(bind_int64) X(bind_double) \
    X(bind_text) X(bind_null) X(step) X(column_type) X(column_int64) X(column_double) \
    X(column_text) X(column_bytes) X(libversion) X(libversion_number)
// clang-format on

struct SqliteLibrary {
#define NODREL_DECLARE(name) decltype(&::sqlite3_##name) name = nullptr;
    NODREL_SQLITE_LIBRARY_FUNCTIONS(NODREL_DECLARE)
#undef NODREL_DECLARE
    void* handle = nullptr;

    SqliteLibrary() = default;
    SqliteLibrary(const SqliteLibrary&) = delete;
    SqliteLibrary& operator=(const SqliteLibrary&) = delete;
    ~SqliteLibrary();
};

// The oldest SQLite that does all this program asks of it: upserts came with 3.24.
inline constexpr int kOldestSqliteVersion = 3'024'000;

// Nothing, with the loader's reason in `failure`, when libsqlite3 or one of its functions is
// missing, or when it is older than kOldestSqliteVersion.
std::shared_ptr<const SqliteLibrary> LoadSqliteLibrary(QString* failure);

}  // namespace nodrel::platform
