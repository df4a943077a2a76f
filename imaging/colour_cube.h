// The shared display palette: a 256-entry colour cube of 8 red x 8 green x 4 blue levels.
// Entry index = r * 32 + g * 4 + b. The camera dialog builds the GDI palette from these
// entries; ditherToPalette produces exactly these colours.
#pragma once

#include <cstdint>

constexpr int kSharedPaletteSize = 256;

struct PaletteColour {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

// Colour of palette entry index (0..255); indices outside that range are taken modulo 256.
constexpr PaletteColour sharedPaletteColour(int index) {
    const int i = index & 0xFF;
    return PaletteColour{static_cast<uint8_t>(((i >> 5) & 7) * 255 / 7),
                         static_cast<uint8_t>(((i >> 2) & 7) * 255 / 7),
                         static_cast<uint8_t>((i & 3) * 255 / 3)};
}

// Palette entry nearest below a colour in the cube's own quantisation: (R div 32, G div 32, B div 64).
constexpr int sharedPaletteIndex(uint8_t red, uint8_t green, uint8_t blue) {
    return (red / 32) * 32 + (green / 32) * 4 + blue / 64;
}
