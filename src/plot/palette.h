#pragma once
// The 16-colour VGA palette that every chart colour index refers to.

#include <array>
#include <cstdint>

namespace basinfit::plot {

struct Rgb {
  std::uint8_t red, green, blue;
};

inline constexpr int kPaletteSize = 16;

// Index: 0 black, 1 blue, 2 green, 3 cyan, 4 red, 5 magenta, 6 brown, 7 white, 8 grey,
// 9 light blue, 10 light green, 11 light cyan, 12 light red, 13 light magenta, 14 yellow,
// 15 bright white.
inline constexpr std::array<Rgb, kPaletteSize> kVgaPalette = {{
    {0x00, 0x00, 0x00},
    {0x00, 0x00, 0xAA},
    {0x00, 0xAA, 0x00},
    {0x00, 0xAA, 0xAA},
    {0xAA, 0x00, 0x00},
    {0xAA, 0x00, 0xAA},
    {0xAA, 0x55, 0x00},
    {0xAA, 0xAA, 0xAA},
    {0x55, 0x55, 0x55},
    {0x55, 0x55, 0xFF},
    {0x55, 0xFF, 0x55},
    {0x55, 0xFF, 0xFF},
    {0xFF, 0x55, 0x55},
    {0xFF, 0x55, 0xFF},
    {0xFF, 0xFF, 0x55},
    {0xFF, 0xFF, 0xFF},
}};

// A colour request outside the palette selects its nearest end: an index at or above the
// palette size means the last colour, a negative index colour 0.
constexpr int palette_index(int requested) {
  if (requested < 0) return 0;
  if (requested >= kPaletteSize) return kPaletteSize - 1;
  return requested;
}

constexpr Rgb palette_colour(int requested) { return kVgaPalette[palette_index(requested)]; }

}  // namespace basinfit::plot
