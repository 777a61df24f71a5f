#pragma once

// The plain values the window, its menus and the renderer share, with what they hold when the
// process starts. Nothing here depends on the store, so any layer may hold a copy.

#include <array>
#include <cstdint>

namespace nodrel {

enum class ModeByte { View, Size, Blink };

// The colour table, in its order in memory (the stored names are col2, col1, col3, col4, col5).
enum class ColourSlot { NoResult, Success, Failure, FailureBlink, Background };

// The cell geometry, in its order in memory.
enum class GeometryValue { Width, Height, SpaceHeight, SpaceWidth };

// Colours are 0x00BBGGRR.
inline constexpr std::array<uint32_t, 5> kFirstStartColours{
    0x00C0C0C0,  // silver: no result yet
    0x00FF0000,  // blue: success
    0x000000FF,  // red: failure
    0x000080FF,  // orange: failure, blink phase
    0x00FFFFFF,  // white: background
};
inline constexpr uint32_t kFirstStartFrameColour = 0x00000000;  // black
inline constexpr std::array<uint16_t, 4> kFirstStartGeometry{5, 3, 1, 1};

struct DisplaySettings {
    // Zero until the settings are loaded: view 1 graph / 2 history, size 1 large / 2 small,
    // blink 1 off / 2 simple / 3 chess.
    std::array<uint8_t, 3> modes{};
    std::array<uint32_t, 5> colours = kFirstStartColours;
    std::array<uint16_t, 4> geometry = kFirstStartGeometry;

    uint8_t& Mode(ModeByte which) { return modes[static_cast<size_t>(which)]; }
    uint8_t Mode(ModeByte which) const { return modes[static_cast<size_t>(which)]; }
    uint32_t& Colour(ColourSlot slot) { return colours[static_cast<size_t>(slot)]; }
    uint32_t Colour(ColourSlot slot) const { return colours[static_cast<size_t>(slot)]; }
    uint16_t& Geometry(GeometryValue which) { return geometry[static_cast<size_t>(which)]; }
    uint16_t Geometry(GeometryValue which) const { return geometry[static_cast<size_t>(which)]; }

    bool operator==(const DisplaySettings&) const = default;
};

}  // namespace nodrel
