#pragma once

#include <QString>
#include <cstdint>

#include "history_renderer.h"
#include "probed_hosts.h"
#include "result_history.h"

namespace nodrel {

// What lies under a point of the drawing surface: a cell, and the area over which the pointer
// still reads the same thing (the cell's place in the History view, its column's in the Graph
// view).
struct TReadoutSpot {
    int Cell = 0;  // 1..600 as CellRect numbers them; 0 outside every drawn cell's place
    TCellRect Area;
};

// The spot at pixel (x, y) of a surface `surfaceHeight` high, laid out as the renderer lays it
// out. A cell's place is the cell with the space to its right and the space below it, so the
// grid has no dead gaps; the margins around it belong to no cell.
TReadoutSpot ReadoutSpotAt(int x, int y, const TRenderSettings& settings, int32_t surfaceHeight);

// What the window tells of the outcomes shown that the current host had: the host and, when it
// is a name, the address last probed; how many probes the figures cover, the share lost and the
// median round trip; and that the name no longer resolves, when its repeated lookup failed.
QString ReadoutSummary(const TResultHistory& history, const TRenderSettings& settings,
                       const TProbedHosts& hosts);

// The readout for `cell` in the current view, one line each, the summary last. History view:
// the probe's local start time, the host when it was an earlier one, then its reply or failure in
// words ("not probed yet" for an empty cell). Graph view: how many of the column's outcomes were
// answered and its round trips.
QString OutcomeReadout(const TResultHistory& history, const TRenderSettings& settings, int cell,
                       const TProbedHosts& hosts);

// A failed probe in words, from its record.
QString FailureText(const TOutcomeRecord& record);

// Where a failed probe's fault lies, in a sentence that names the address probed, or `host`
// when there was none; empty when it could not be placed.
QString WhereText(const TOutcomeRecord& record, const QString& host);

}  // namespace nodrel
