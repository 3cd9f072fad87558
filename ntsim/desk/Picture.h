// Pictures on a terminal: a bitmap's DIB read into pixels and drawn as
// character cells of two pixels each, the upper half block in the top
// pixel's colour over the bottom pixel's, in the terminal's palette.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::desk {

struct Rgb {
    uint8_t r { 0 }, g { 0 }, b { 0 };
};

struct Image {
    size_t width { 0 }, height { 0 };
    std::vector<Rgb> pixels; // rows top first
};

// A packed DIB as a bitmap resource holds it: BITMAPINFOHEADER (or
// BITMAPCOREHEADER), palette, bits; 1, 4, 8, 16, 24 and 32 bits a pixel,
// uncompressed. Nothing for what it cannot read.
std::optional<Image> decodeDib(const std::string& dib);

// The index of the nearest colour of a terminal with 8, 16 or 256 colours
// (xterm's palette).
uint8_t nearestColour(Rgb colour, int colours);

struct HalfBlock {
    uint8_t top { 0 };    // palette index of the upper pixel (the cell's foreground)
    uint8_t bottom { 0 }; // of the lower one (its background)
};

// The picture scaled to columns x rows cells (2 x rows pixels high), each
// pixel the mean of the picture's pixels it covers; rows top first.
std::vector<HalfBlock> halfBlocks(const Image& image, size_t columns, size_t rows, int colours);

// The character of every cell: the upper half block.
constexpr char upperHalfBlock[] = "\xE2\x96\x80";

}
