#include "metrics_textfile.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace nodrel::platform {

namespace {

// node_exporter collects on each scrape; Prometheus scrapes every 15 s unless told otherwise.
constexpr int kWriteMilliseconds = 15000;

}  // namespace

MetricsTextfile::MetricsTextfile(const QString& folder, TextSource text)
    : path_(QDir(folder).absoluteFilePath(QStringLiteral("nodrel.prom"))), text_(std::move(text)) {
    timer_.setInterval(kWriteMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &MetricsTextfile::Write);
}

MetricsTextfile::~MetricsTextfile() {
    Close();
}

void MetricsTextfile::Start() {
    Write();
    timer_.start();
}

void MetricsTextfile::Close() {
    timer_.stop();
    // A file of the figures of a monitor that no longer runs would read as current.
    if (written_) QFile::remove(path_);
    written_ = false;
}

void MetricsTextfile::Write() {
    QSaveFile file(path_);
    // Never written in place: the collector could read it half written.
    file.setDirectWriteFallback(false);
    const bool saved = file.open(QIODevice::WriteOnly) && file.write(text_()) >= 0 && file.commit();
    written_ = written_ || saved;
    if (saved == !failing_) return;
    failing_ = !saved;
    if (failing_) {
        emit Failed(file.errorString());
    } else {
        emit Resumed();
    }
}

}  // namespace nodrel::platform
