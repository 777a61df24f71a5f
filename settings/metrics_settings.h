#pragma once

// Where the monitor's figures for Prometheus go, kept in the settings store after the other values
// as the strings "metricstextfile" (the folder of node_exporter's textfile collector) and
// "metricslisten" (the HTTP endpoint's ADDRESS:PORT); each is off while missing or empty. The
// program reads them at its start and never writes them: they are set by hand, or for one run on
// the command line.

#include <QString>
#include <cstdint>
#include <optional>

#include "settings.h"

namespace nodrel {

struct TMetricsSettings {
    QString TextfileFolder;
    QString ListenAddress;
};

TMetricsSettings LoadMetricsSettings(SettingsStore& store);

struct TListenAddress {
    QString Address;  // an IPv4 or IPv6 literal, without brackets
    uint16_t Port = 0;
};

// "ADDRESS:PORT" (an IPv6 address in brackets), "ADDRESS" for port 9374 or ":PORT" for
// 127.0.0.1; nothing, with why in `failure`, for anything else.
std::optional<TListenAddress> ParseListenAddress(const QString& text, QString* failure);

}  // namespace nodrel
