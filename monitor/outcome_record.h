#pragma once

#include <cstdint>

namespace nodrel {

// What is known of one probe beyond its success: when it ran, how long the answer took and why it
// failed. Fixed-size, so that the history can keep one beside every outcome without allocating.
struct TOutcomeRecord {
    int64_t StartTime = 0;      // wall clock when the probe started, ms since the Unix epoch
    uint32_t Milliseconds = 0;  // a reply's round trip; for a time-out, the time waited
    // The echo reply's IP status (0: answered), or the lookup's error number when NameNotFound.
    uint32_t Status = 0;
    bool NameNotFound = false;
    uint32_t Address = 0;  // the IPv4 address probed, network byte order; 0 when there was none
};

}  // namespace nodrel
