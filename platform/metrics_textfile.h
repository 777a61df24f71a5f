#pragma once

// The figures for node_exporter's textfile collector: `nodrel.prom` in a folder the user chose,
// written at once and then every 15 s, each time whole, through a temporary file in the same
// folder renamed over the old one (QSaveFile), so the collector never reads half of it; removed
// when the writer closes. A folder that cannot be written is tried again at the next turn.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace nodrel::platform {

class MetricsTextfile : public QObject {
    Q_OBJECT

public:
    using TextSource = std::function<QByteArray()>;

    MetricsTextfile(const QString& folder, TextSource text);
    // Closes as Close does.
    ~MetricsTextfile() override;

    const QString& Path() const { return path_; }

    // Writes now and every 15 s from now on.
    void Start();
    // Stops writing and removes the file.
    void Close();

signals:
    // Once when writes begin to fail, with the system's reason, and once when one succeeds again.
    void Failed(const QString& reason);
    void Resumed();

private:
    void Write();

    QString path_;
    TextSource text_;
    QTimer timer_;
    bool failing_ = false;
    bool written_ = false;
};

}  // namespace nodrel::platform
