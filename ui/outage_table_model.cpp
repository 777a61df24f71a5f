#include "outage_table_model.h"

#include "journal_text.h"

namespace nodrel {

namespace {

enum Column { kStart, kDuration, kFailures, kReason, kWhere, kHost, kColumnCount };

// What tells one outage from another across updates: an ongoing one gains failures and an end.
bool SameOutages(const std::vector<TJournalOutage>& a, const std::vector<TJournalOutage>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.StartedMs == y.StartedMs && x.Host == y.Host;
    });
}

}  // namespace

void TOutageTableModel::SetOutages(std::vector<TJournalOutage> outages, int64_t nowMs) {
    nowMs_ = nowMs;
    if (SameOutages(outages, outages_)) {
        outages_ = std::move(outages);
        if (!outages_.empty()) {
            emit dataChanged(index(0, 0), index(rowCount() - 1, kColumnCount - 1));
        }
        return;
    }
    // New outages come first: the rows below keep their selection when the count grows at the
    // top only; anything else starts over.
    const size_t added = outages.size() - std::min(outages.size(), outages_.size());
    if (added > 0 && SameOutages({outages.begin() + added, outages.end()}, outages_)) {
        beginInsertRows({}, 0, int(added) - 1);
        outages_ = std::move(outages);
        endInsertRows();
        emit dataChanged(index(int(added), 0), index(rowCount() - 1, kColumnCount - 1));
        return;
    }
    beginResetModel();
    outages_ = std::move(outages);
    endResetModel();
}

int TOutageTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(outages_.size());
}

int TOutageTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TOutageTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TJournalOutage& outage = outages_[index.row()];
    if (role == Qt::TextAlignmentRole) {
        const bool number = index.column() == kDuration || index.column() == kFailures;
        return QVariant::fromValue(Qt::AlignVCenter | (number ? Qt::AlignRight : Qt::AlignLeft));
    }
    // Cut to fit, a reason or a host reads whole in its tip.
    if (role == Qt::ToolTipRole && index.column() == kReason) return outage.Reason;
    if (role == Qt::ToolTipRole && index.column() == kHost) {
        return outage.Address.isEmpty() || outage.Address == outage.Host
                   ? outage.Host
                   : QStringLiteral("%1 (%2)").arg(outage.Host, outage.Address);
    }
    if (role != Qt::DisplayRole) return {};
    switch (index.column()) {
        case kStart:
            return LocalTimeText(outage.StartedMs);
        case kDuration:
            return OutageDurationText(outage, nowMs_);
        case kFailures:
            return QString::number(outage.Failures);
        case kReason:
            return outage.Reason;
        case kWhere:
            return OutageWhereText(outage);
        case kHost:
            return outage.Host;
    }
    return {};
}

QVariant TOutageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    switch (section) {
        case kStart:
            return QStringLiteral("Start");
        case kDuration:
            return QStringLiteral("Duration");
        case kFailures:
            return QStringLiteral("Failed probes");
        case kReason:
            return QStringLiteral("Reason");
        case kWhere:
            return QStringLiteral("Where");
        case kHost:
            return QStringLiteral("Host");
    }
    return {};
}

}  // namespace nodrel
