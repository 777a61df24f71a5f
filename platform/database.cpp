#include "database.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <exception>
#include <utility>

#include "memory_trim.h"
#include "sqlite_library.h"
#include "system_error.h"

namespace nodrel::platform {

namespace {

// How long a write waits for another writer's lock.
constexpr int kBusyWaitMilliseconds = 1000;
// SQLite's own page cache, KiB: the journal touches a few pages a minute.
constexpr const char* kSetUp = "PRAGMA synchronous=FULL; PRAGMA cache_size=-256;";
// A reader goes through many pages at a time: mapped, they are not copied out of the system's
// page cache.
constexpr const char* kReadSetUp = "PRAGMA mmap_size=268435456;";

class SqliteError : public std::exception {
public:
    explicit SqliteError(DatabaseFailure failure) : failure_(std::move(failure)) {}
    const DatabaseFailure& Failure() const { return failure_; }
    const char* what() const noexcept override { return "SQLite error"; }

private:
    DatabaseFailure failure_;
};

DatabaseFailure FailureOf(const SqliteLibrary& api, sqlite3* db, int code) {
    const int primary = code & 0xff;
    DatabaseFailure failure;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
        failure.fault = DatabaseFault::Busy;
    } else if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB) {
        failure.fault = DatabaseFault::Broken;
    }
    // Where the system refused, its words say more than SQLite's ("disk I/O error").
    const bool system = primary == SQLITE_IOERR || primary == SQLITE_FULL ||
                        primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY ||
                        primary == SQLITE_PERM;
    const int systemError = db && system ? api.system_errno(db) : 0;
    if (systemError != 0) {
        failure.reason = SystemError(systemError);
    } else {
        failure.reason = QString::fromUtf8(db ? api.errmsg(db) : api.errstr(code));
    }
    return failure;
}

// A file SQLite could not open or write in a folder the user may not write to: the folder says
// why ("Read-only file system"), where SQLite's last system error may be of another file.
void ExplainUnwritable(const QByteArray& folder, DatabaseFailure& failure) {
    if (failure.fault == DatabaseFault::Unwritable && ::access(folder.constData(), W_OK) != 0) {
        failure.reason = SystemError(errno);
    }
}

[[noreturn]] void Throw(const SqliteLibrary& api, sqlite3* db, int code) {
    throw SqliteError(FailureOf(api, db, code));
}

std::shared_ptr<const SqliteLibrary> LoadSqlite(DatabaseFailure& failure) {
    QString why;
    std::shared_ptr<const SqliteLibrary> sqlite = LoadSqliteLibrary(&why);
    if (!sqlite) failure = {DatabaseFault::Unwritable, why};
    return sqlite;
}

// Makes each missing folder of `folder` private to the user, as the state folder should be.
bool MakeFolders(const QString& folder, DatabaseFailure& failure) {
    const QByteArray path = QFile::encodeName(folder);
    for (qsizetype end = 1; end <= path.size(); ++end) {
        if (end < path.size() && path[end] != '/') continue;
        const QByteArray part = path.left(end);
        if (::mkdir(part.constData(), 0700) == 0) continue;
        const int error = errno;
        struct stat status {};
        if (::stat(part.constData(), &status) == 0 && S_ISDIR(status.st_mode)) continue;
        failure = {DatabaseFault::Unwritable, SystemError(error)};
        return false;
    }
    return true;
}

// Renames the broken file and its WAL aside; its shared-memory index goes.
bool SetAside(const QString& path, QString& target, DatabaseFailure& failure) {
    const QString stamp = QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'");
    const QString base = path + QStringLiteral(".broken-") + stamp;
    for (int attempt = 0; attempt < 100; ++attempt) {
        target = attempt == 0 ? base : base + u'-' + QString::number(attempt);
        if (QFileInfo::exists(target)) continue;
        if (std::rename(QFile::encodeName(path).constData(),
                        QFile::encodeName(target).constData()) != 0) {
            failure = {DatabaseFault::Unwritable, SystemError(errno)};
            return false;
        }
        const QByteArray wal = QFile::encodeName(path + QStringLiteral("-wal"));
        if (QFileInfo::exists(QString::fromLocal8Bit(wal))) {
            std::rename(wal.constData(), QFile::encodeName(target + QStringLiteral("-wal")));
        }
        QFile::remove(path + QStringLiteral("-shm"));
        return true;
    }
    failure = {DatabaseFault::Unwritable, SystemError(EEXIST)};
    return false;
}

}  // namespace

Statement::Statement(std::shared_ptr<const SqliteLibrary> api, sqlite3* db, sqlite3_stmt* statement)
    : api_(std::move(api)), db_(db), statement_(statement) {}

Statement::Statement(Statement&& other) noexcept
    : api_(std::move(other.api_)),
      db_(other.db_),
      statement_(std::exchange(other.statement_, nullptr)) {}

Statement::~Statement() {
    if (statement_) api_->finalize(statement_);
}

Statement& Statement::Bind(int index, int64_t value) {
    if (const int code = api_->bind_int64(statement_, index, value); code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
    return *this;
}

Statement& Statement::Bind(int index, double value) {
    if (const int code = api_->bind_double(statement_, index, value); code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
    return *this;
}

Statement& Statement::Bind(int index, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    if (const int code = api_->bind_text(statement_, index, utf8.constData(), int(utf8.size()),
                                         SQLITE_TRANSIENT);
        code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
    return *this;
}

Statement& Statement::BindNull(int index) {
    if (const int code = api_->bind_null(statement_, index); code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
    return *this;
}

bool Statement::Step() {
    const int code = api_->step(statement_);
    if (code == SQLITE_ROW) return true;
    api_->reset(statement_);
    if (code != SQLITE_DONE) Throw(*api_, db_, code);
    return false;
}

void Statement::Run() {
    while (Step()) {
    }
}

bool Statement::IsNull(int column) const {
    return api_->column_type(statement_, column) == SQLITE_NULL;
}

int64_t Statement::Integer(int column) const {
    return api_->column_int64(statement_, column);
}

double Statement::Real(int column) const {
    return api_->column_double(statement_, column);
}

std::optional<double> Statement::OptionalReal(int column) const {
    if (IsNull(column)) return std::nullopt;
    return Real(column);
}

QString Statement::Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(api_->column_text(statement_, column));
    return QString::fromUtf8(text, api_->column_bytes(statement_, column));
}

Database::Database(std::shared_ptr<const SqliteLibrary> api, sqlite3* db, QByteArray folder,
                   bool readOnly)
    : api_(std::move(api)), db_(db), folder_(std::move(folder)), readOnly_(readOnly) {}

Database::Database(Database&& other) noexcept
    : api_(std::move(other.api_)),
      db_(std::exchange(other.db_, nullptr)),
      folder_(std::move(other.folder_)),
      readOnly_(other.readOnly_) {}

Database::~Database() {
    if (!db_) return;
    // Closed once its last statement is finalised, should one outlive it.
    api_->close_v2(db_);
    api_.reset();
    // What SQLite held goes back to the system now, not at some later allocation.
    TrimMemory();
}

std::optional<Database> Database::Open(const QString& path, const DatabaseSchema& schema,
                                       bool checkIntegrity, DatabaseFailure& failure,
                                       QString& setAsideAs) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!MakeFolders(folder, failure)) return std::nullopt;
    const std::shared_ptr<const SqliteLibrary> api = LoadSqlite(failure);
    if (!api) return std::nullopt;
    for (int attempt = 0; attempt < 2; ++attempt) {
        sqlite3* handle = nullptr;
        const int code = api->open_v2(QFile::encodeName(path).constData(), &handle,
                                      SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        std::optional<Database> db(Database(api, handle, QFile::encodeName(folder), false));
        if (code != SQLITE_OK) {
            failure = FailureOf(*api, handle, code);
            ExplainUnwritable(db->folder_, failure);
            return std::nullopt;
        }
        api->busy_timeout(handle, kBusyWaitMilliseconds);
        try {
            // A file that is not a database says so at its first read, here; one of a later
            // version is left before anything is changed.
            const int version = db->UserVersion();
            if (version > schema.version) {
                throw SqliteError({DatabaseFault::Newer,
                                   QStringLiteral("it is of version %1, newer than version %2")
                                       .arg(version)
                                       .arg(schema.version)});
            }
            Statement mode = db->Prepare("PRAGMA journal_mode=WAL");
            if (!mode.Step() || mode.Text(0) != QLatin1String("wal")) {
                throw SqliteError({DatabaseFault::Unwritable,
                                   QStringLiteral("the database cannot use WAL mode")});
            }
            mode.Step();
            db->Execute(kSetUp);
            if (checkIntegrity) {
                Statement check = db->Prepare("PRAGMA integrity_check(1)");
                if (check.Step() && check.Text(0) != QLatin1String("ok")) {
                    throw SqliteError({DatabaseFault::Broken, check.Text(0)});
                }
                check.Step();
            }
            if (const auto refused = db->Transaction([&schema, version](Database& d) {
                    schema.setUp(d, version);
                    if (version != schema.version) {
                        d.Execute(
                            QByteArray("PRAGMA user_version=" + QByteArray::number(schema.version))
                                .constData());
                    }
                })) {
                throw SqliteError(*refused);
            }
            return db;
        } catch (const SqliteError& error) {
            failure = error.Failure();
            ExplainUnwritable(db->folder_, failure);
        }
        if (failure.fault != DatabaseFault::Broken || attempt > 0) return std::nullopt;
        db.reset();  // closed before it is moved
        if (!SetAside(path, setAsideAs, failure)) return std::nullopt;
    }
    return std::nullopt;
}

std::optional<Database> Database::OpenReadOnly(const QString& path, bool asItStands,
                                               DatabaseFailure& failure) {
    const std::shared_ptr<const SqliteLibrary> api = LoadSqlite(failure);
    if (!api) return std::nullopt;
    QByteArray name = QFile::encodeName(path);
    int flags = SQLITE_OPEN_READONLY;
    if (asItStands) {
        // As a URI, with what URIs reserve escaped in the path.
        name = "file:" + name.toPercentEncoding("/") + "?immutable=1";
        flags |= SQLITE_OPEN_URI;
    }
    sqlite3* handle = nullptr;
    const int code = api->open_v2(name.constData(), &handle, flags, nullptr);
    std::optional<Database> db(
        Database(api, handle, QFile::encodeName(QFileInfo(path).absolutePath()), true));
    if (code != SQLITE_OK) {
        failure = FailureOf(*api, handle, code);
        return std::nullopt;
    }
    api->busy_timeout(handle, kBusyWaitMilliseconds);
    api->exec(handle, kReadSetUp, nullptr, nullptr, nullptr);
    return db;
}

std::optional<DatabaseFailure> Database::Transaction(const std::function<void(Database&)>& work) {
    DatabaseFailure failure;
    try {
        // A read transaction takes its snapshot at its first statement and keeps it to its end.
        Execute(readOnly_ ? "BEGIN" : "BEGIN IMMEDIATE");
        try {
            work(*this);
            Execute("COMMIT");
            return std::nullopt;
        } catch (const SqliteError& error) {
            api_->exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            failure = error.Failure();
        } catch (...) {
            api_->exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
    } catch (const SqliteError& error) {
        failure = error.Failure();
    }
    ExplainUnwritable(folder_, failure);
    return failure;
}

Statement Database::Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (const int code = api_->prepare_v2(db_, sql, -1, &statement, nullptr); code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
    return Statement(api_, db_, statement);
}

int Database::UserVersion() {
    Statement version = Prepare("PRAGMA user_version");
    return version.Step() ? int(version.Integer(0)) : 0;
}

void Database::Execute(const char* sql) {
    if (const int code = api_->exec(db_, sql, nullptr, nullptr, nullptr); code != SQLITE_OK) {
        Throw(*api_, db_, code);
    }
}

}  // namespace nodrel::platform
