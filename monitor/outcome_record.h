#pragma once

#include <cstdint>
#include <optional>

#include "failure_place.h"
#include "ip_address.h"

namespace nodrel {

// What is known of one probe beyond its success: when it ran, how long the answer took and why it
// failed. Fixed-size, so that the history can keep one beside every outcome without allocating.
struct TOutcomeRecord {
    int64_t StartTime = 0;      // wall clock when the probe started, ms since the Unix epoch
    uint32_t Milliseconds = 0;  // a reply's round trip; for a time-out, the time waited
    // A reply's round trip as the echo service timed it, finer than Milliseconds; 0 when it gave
    // none.
    uint32_t RoundTripMicroseconds = 0;
    // The echo reply's IP status (0: answered), or the lookup's error number when NameNotFound.
    uint32_t Status = 0;
    bool NameNotFound = false;
    std::optional<platform::IpAddress> Address;  // the address probed; none when there was none
    // The name was looked up again after failures and led to a new address from this probe on.
    bool AddressChanged = false;
    // The error of the name's repeated lookup when it failed: the probe went to the address the
    // name had before. 0 while the name resolves.
    uint16_t LookupAgainError = 0;
    // Which host text the probe was for: the number the probe gave that text (its generation),
    // cut to 32 bits, which keeps the record at its size; no history spans that many changes.
    uint32_t Host = 0;
    // Where a failed probe's fault lies; None for an answered one.
    TFailurePlace Place;
};

// A reply's round trip in milliseconds, as finely as it was timed: to the microsecond where the
// echo service timed it so, else in whole milliseconds.
inline double RoundTripMs(const TOutcomeRecord& record) {
    return record.RoundTripMicroseconds != 0 ? record.RoundTripMicroseconds / 1000.0
                                             : double(record.Milliseconds);
}

}  // namespace nodrel
