#pragma once

#include <cstdint>

namespace nodrel {

// What the window menu's check marks show, kept while the menu is not made: as a first start
// shows it, no sounds, notifications on, opaque, History view, blinking off.
struct TMenuMarks {
    bool Sounds = false;
    bool Notify = true;
    bool Transparent = false;
    uint8_t ViewItem = 2;   // 1 Graph, 2 History
    uint8_t BlinkItem = 1;  // 1 Off, 2 Simple order, 3 Chess order
};

}  // namespace nodrel
