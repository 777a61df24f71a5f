#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "journal_reader.h"

namespace nodrel {

// The Journal window's table of outages, newest first: start in local time, duration, failed
// probes, reason, host (the address probed in its tip). A live update keeps the rows' identity, so
// a selection survives it.
class TOutageTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetOutages(std::vector<TJournalOutage> outages, int64_t nowMs);
    const std::vector<TJournalOutage>& Outages() const { return outages_; }
    int64_t NowMs() const { return nowMs_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    std::vector<TJournalOutage> outages_;
    int64_t nowMs_ = 0;
};

}  // namespace nodrel
