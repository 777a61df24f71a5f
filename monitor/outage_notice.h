#pragma once

#include <QString>
#include <cstdint>

#include "desktop_notifications.h"
#include "outage_watch.h"

namespace nodrel {

// What a notification says of an outage of `host`: since when and why it does not answer, and,
// once it answers again, after how long.
platform::DesktopNotice OutageStartNotice(const QString& host, const TOutage& outage);
platform::DesktopNotice OutageEndNotice(const QString& host, const TOutage& outage);

}  // namespace nodrel
