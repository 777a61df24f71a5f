#pragma once

// The figures in Prometheus's text exposition format, version 0.0.4, under the names and labels
// the smokeping_prober exporter uses for the same figures (smokeping_requests_total and the
// smokeping_response_duration_seconds histogram, labelled host and ip), so that dashboards and
// alert rules written for it read these unchanged; the monitor's own figures are prefixed nodrel_.

#include <QByteArray>
#include <QString>

#include "metrics_figures.h"

namespace nodrel {

// What the HTTP endpoint answers the text with as its Content-Type.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

QByteArray MetricsText(const TMetricsFigures& figures);

// `value` as a label value: in UTF-8, with backslash, double quote and line feed escaped.
void AppendLabelValue(QByteArray& text, const QString& value);

}  // namespace nodrel
