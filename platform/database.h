#pragma once

// An SQLite database file for one writer in this process and any number of readers (WAL mode),
// opened for writing or for reading only. SQLite is loaded for as long as a Database or one of
// its statements is open and let go when the last closes, so a program that writes once a minute
// holds none of it in between.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace nodrel::platform {

struct SqliteLibrary;

// What a failed database operation means to its caller.
enum class DatabaseFault {
    Unwritable,  // full, read-only, no permission, no SQLite: try again later
    Busy,        // another writer held the lock for longer than the wait
    Broken,      // not a database, or damaged
    Newer,       // made for a later version of its schema: left as it is
};

struct DatabaseFailure {
    DatabaseFault fault = DatabaseFault::Unwritable;
    QString reason;  // as the system or SQLite said it, e.g. "No space left on device"
};

// One prepared statement; a failed step throws, ending the transaction it runs in. It holds
// SQLite loaded, so it may outlive its Database: SQLite closes the connection with it.
class Statement {
public:
    Statement(std::shared_ptr<const SqliteLibrary> api, sqlite3* db, sqlite3_stmt* statement);
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;
    ~Statement();

    // Parameters count from 1, as in SQL's ?1.
    Statement& Bind(int index, int64_t value);
    Statement& Bind(int index, double value);
    Statement& Bind(int index, const QString& text);
    Statement& BindNull(int index);
    // True while it yields a row; false when it is done (then it is reset for the next use).
    bool Step();
    // Runs it once to its end and resets it.
    void Run();

    bool IsNull(int column) const;
    int64_t Integer(int column) const;
    double Real(int column) const;
    // Nothing for NULL.
    std::optional<double> OptionalReal(int column) const;
    QString Text(int column) const;

private:
    std::shared_ptr<const SqliteLibrary> api_;
    sqlite3* db_;
    sqlite3_stmt* statement_;
};

class Database;

// What a database holds, numbered as PRAGMA user_version numbers it.
struct DatabaseSchema {
    int version = 0;
    // Inside a transaction: makes what is missing and brings a database of an earlier version
    // (`from`; 0 for a new one too) up to `version`, keeping its rows.
    void (*setUp)(Database& db, int from) = nullptr;
};

class Database {
public:
    // Opens `path`, making its folders (0700) and the file when missing, in WAL mode with every
    // commit synced, and sets `schema` up in it. With `checkIntegrity`, PRAGMA integrity_check
    // runs first. A file that is not a database or fails the check is renamed
    // "<path>.broken-<UTC time>" (its WAL beside it) and a new one started; `setAsideAs` then
    // holds the new name. One of a later schema version is read only for that version and left
    // as it is (fault Newer). Nothing with `failure` filled in on any other fault.
    static std::optional<Database> Open(const QString& path, const DatabaseSchema& schema,
                                        bool checkIntegrity, DatabaseFailure& failure,
                                        QString& setAsideAs);
    // Opens `path` for reading only, making nothing. Readers share the file with its writer
    // through an index beside it, which a read-only folder or a full disk keeps from being made:
    // then, `asItStands`, the file is read without it, as it is on disk at that moment and
    // assuming no writer changes it. Nothing with `failure` filled in when it cannot be opened;
    // a file that is no database fails at its first read.
    static std::optional<Database> OpenReadOnly(const QString& path, bool asItStands,
                                                DatabaseFailure& failure);

    Database(Database&& other) noexcept;
    Database& operator=(Database&&) = delete;
    ~Database();

    // Runs `work` in one transaction, waiting briefly for another writer's lock: a write
    // transaction, or when opened for reading one read transaction, whose statements all see the
    // file as one commit left it. It commits when `work` returns and rolls back when a statement
    // in it fails.
    std::optional<DatabaseFailure> Transaction(const std::function<void(Database&)>& work);

    // Throws on failure like a step; only inside Transaction.
    Statement Prepare(const char* sql);
    void Execute(const char* sql);

    // PRAGMA user_version: the schema version the database was last set up for.
    int UserVersion();

private:
    Database(std::shared_ptr<const SqliteLibrary> api, sqlite3* db, QByteArray folder,
             bool readOnly);

    std::shared_ptr<const SqliteLibrary> api_;
    sqlite3* db_ = nullptr;
    QByteArray folder_;
    bool readOnly_ = false;
};

}  // namespace nodrel::platform
