#pragma once

#include <QString>
#include <cstdint>
#include <vector>

#include "result_history.h"

namespace nodrel {

// The host texts the outcomes were probed for, by the number the probe gave each text
// (TOutcomeRecord::Host). A record stays fixed-size: the texts live here, only as long as an
// outcome of the history, or a probe still under way, may name them.
class TProbedHosts {
public:
    // The host is `text` from now on, numbered `number`. Texts that no outcome in `history` names
    // any more are let go, except those a probe may still be under way for.
    void SetCurrent(uint32_t number, const QString& text, const TResultHistory& history);

    // The current host's text; empty before the first.
    QString Current() const;
    // The text numbered `number`; null when none is known.
    const QString* Text(uint32_t number) const;

private:
    struct THost {
        uint32_t Number;
        QString Text;
    };
    std::vector<THost> FHosts;  // the current one last
};

}  // namespace nodrel
