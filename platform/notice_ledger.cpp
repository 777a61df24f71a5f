#include "notice_ledger.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

namespace nodrel::platform {

// One line: the bus, the server, the numbers.
void NoticeLedger::Keep(const Entries& entries) const {
    if (path_.isEmpty()) return;
    if (entries.ids.empty()) {
        Remove();
        return;
    }
    QStringList words{entries.bus, entries.server};
    for (const uint32_t id : entries.ids) words << QString::number(id);
    QSaveFile file(path_);
    // A ledger that cannot be written costs only the withdrawal after a kill.
    if (file.open(QIODevice::WriteOnly)) {
        file.write(words.join(u' ').toUtf8() + '\n');
        file.commit();
    }
}

std::optional<NoticeLedger::Entries> NoticeLedger::Read() const {
    if (path_.isEmpty()) return std::nullopt;
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QStringList words =
        QString::fromUtf8(file.readLine(4096)).split(u' ', Qt::SkipEmptyParts);
    if (words.size() < 3) return std::nullopt;
    Entries entries{words[0], words[1], {}};
    for (const QString& word : words.mid(2)) {
        bool number = false;
        const uint32_t id = word.trimmed().toUInt(&number);
        if (number && id != 0) entries.ids.push_back(id);
    }
    return entries;
}

void NoticeLedger::Remove() const {
    if (!path_.isEmpty()) QFile::remove(path_);
}

}  // namespace nodrel::platform
