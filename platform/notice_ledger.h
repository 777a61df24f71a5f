#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

namespace nodrel::platform {

// The numbers of the notifications a run shows, kept in a file while they are shown, so that a
// run that was killed leaves them for the next one to take back. A number is the server's: it
// holds only on the bus and for the server (its unique name) that gave it, since a server started
// again numbers anew.
class NoticeLedger {
public:
    struct Entries {
        QString bus;     // the bus's id
        QString server;  // the server's unique name on it
        std::vector<uint32_t> ids;
    };

    // `path` empty: nothing is kept.
    explicit NoticeLedger(QString path) : path_(std::move(path)) {}

    // Keeps `entries` in place of what the file held; without ids, removes the file.
    void Keep(const Entries& entries) const;
    // What the file holds; nothing when there is no file or it cannot be read.
    std::optional<Entries> Read() const;
    void Remove() const;

private:
    QString path_;
};

}  // namespace nodrel::platform
