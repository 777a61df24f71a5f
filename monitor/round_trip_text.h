#pragma once

// A round trip in milliseconds as the window's readout, the Journal window and its CSV files all
// say it.

#include <QString>

namespace nodrel {

// At most two decimals, none that are zero: "0.42", "12.5", "5".
QString RoundTripNumber(double milliseconds);
// "0.42 ms", "12.5 ms"; "under 1 ms" for 0, which is all a round trip timed in whole
// milliseconds says of one shorter than that.
QString RoundTripText(double milliseconds);

}  // namespace nodrel
