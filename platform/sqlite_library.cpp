#include "sqlite_library.h"

#include <dlfcn.h>

namespace nodrel::platform {

SqliteLibrary::~SqliteLibrary() {
    if (handle) dlclose(handle);
}

std::shared_ptr<const SqliteLibrary> LoadSqliteLibrary(QString* failure) {
    auto library = std::make_shared<SqliteLibrary>();
    library->handle = dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
    bool complete = library->handle != nullptr;
#define NODREL_RESOLVE(name)                                                                     \
    if (complete) {                                                                              \
        library->name =                                                                          \
            reinterpret_cast<decltype(library->name)>(dlsym(library->handle, "sqlite3_" #name)); \
        complete = library->name != nullptr;                                                     \
    }
    NODREL_SQLITE_LIBRARY_FUNCTIONS(NODREL_RESOLVE)
#undef NODREL_RESOLVE
    if (!complete) {
        const char* why = dlerror();
        if (failure) *failure = QString::fromLocal8Bit(why ? why : "SQLite is missing");
        return nullptr;
    }
    if (library->libversion_number() < kOldestSqliteVersion) {
        if (failure) {
            *failure = QStringLiteral("SQLite %1 is too old: 3.24 or later is needed")
                           .arg(QString::fromLatin1(library->libversion()));
        }
        return nullptr;
    }
    return library;
}

}  // namespace nodrel::platform
