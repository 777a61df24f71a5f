#pragma once

#include <QString>

#include "desktop_notifications.h"
#include "outage_watch.h"

namespace nodrel {

// What a notification says of an outage of its host: since when and where the fault lies (or why
// it does not answer, where that is not known), and,
// once it is over, after how long it answers again, or that it is no longer watched. The summary
// names the host cut short, the body whole.
platform::DesktopNotice OutageStartNotice(const TOutage& outage);
platform::DesktopNotice OutageEndNotice(const TOutage& outage);

}  // namespace nodrel
