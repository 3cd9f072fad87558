#include "Picture.h"

#include <algorithm>

namespace ntsim::desk {

namespace {

uint32_t le32(const std::string& s, size_t at)
{
    return static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8 | static_cast<uint8_t>(s[at + 2]) << 16
        | static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}

uint16_t le16(const std::string& s, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}

constexpr uint32_t biRgb = 0, biBitfields = 3;

// xterm's colours: the 16 of the system, the 6x6x6 cube, 24 greys.
Rgb paletteColour(int index)
{
    static const Rgb system[16] = { { 0, 0, 0 }, { 128, 0, 0 }, { 0, 128, 0 }, { 128, 128, 0 }, { 0, 0, 128 },
        { 128, 0, 128 }, { 0, 128, 128 }, { 192, 192, 192 }, { 128, 128, 128 }, { 255, 0, 0 }, { 0, 255, 0 },
        { 255, 255, 0 }, { 0, 0, 255 }, { 255, 0, 255 }, { 0, 255, 255 }, { 255, 255, 255 } };
    if (index < 16)
        return system[index];
    if (index < 232) {
        static const uint8_t level[6] = { 0, 95, 135, 175, 215, 255 };
        int i = index - 16;
        return { level[i / 36], level[i / 6 % 6], level[i % 6] };
    }
    uint8_t grey = static_cast<uint8_t>(8 + 10 * (index - 232));
    return { grey, grey, grey };
}

}

std::optional<Image> decodeDib(const std::string& dib)
{
    if (dib.size() < 12)
        return std::nullopt;
    uint32_t header = le32(dib, 0);
    int64_t width = 0, height = 0;
    uint32_t bits = 0, compression = biRgb, used = 0;
    size_t paletteEntry = 4;
    if (header == 12) {
        width = le16(dib, 4);
        height = le16(dib, 6);
        bits = le16(dib, 10);
        paletteEntry = 3;
    } else if (header >= 40 && dib.size() >= header) {
        width = static_cast<int32_t>(le32(dib, 4));
        height = static_cast<int32_t>(le32(dib, 8));
        bits = le16(dib, 14);
        compression = le32(dib, 16);
        used = le32(dib, 32);
    } else {
        return std::nullopt;
    }
    bool topDown = height < 0;
    height = height < 0 ? -height : height;
    if (width <= 0 || height <= 0 || width > 4096 || height > 4096)
        return std::nullopt;
    if (compression != biRgb && !(compression == biBitfields && (bits == 16 || bits == 32)))
        return std::nullopt;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return std::nullopt;
    size_t colours = bits <= 8 ? (used ? std::min<uint32_t>(used, 1u << bits) : 1u << bits) : 0;
    size_t paletteAt = header + (compression == biBitfields && header == 40 ? 12 : 0);
    uint32_t masks[3] = { bits == 16 ? 0x7C00u : 0xFF0000u, bits == 16 ? 0x03E0u : 0xFF00u, bits == 16 ? 0x001Fu : 0xFFu };
    if (compression == biBitfields) {
        if (dib.size() < 52)
            return std::nullopt;
        for (int i = 0; i < 3; ++i)
            masks[i] = le32(dib, 40 + 4 * static_cast<size_t>(i));
    }
    size_t bitsAt = paletteAt + colours * paletteEntry;
    size_t stride = ((static_cast<size_t>(width) * bits + 31) / 32) * 4;
    if (bitsAt > dib.size() || stride * static_cast<size_t>(height) > dib.size() - bitsAt)
        return std::nullopt;

    auto channel = [](uint32_t value, uint32_t mask) -> uint8_t {
        if (!mask)
            return 0;
        int shift = 0;
        while (!(mask & 1)) {
            mask >>= 1;
            value >>= 1;
            ++shift;
        }
        return static_cast<uint8_t>((value & mask) * 255 / mask);
    };
    Image image;
    image.width = static_cast<size_t>(width);
    image.height = static_cast<size_t>(height);
    image.pixels.resize(image.width * image.height);
    for (size_t y = 0; y < image.height; ++y) {
        size_t row = bitsAt + stride * (topDown ? y : image.height - 1 - y);
        for (size_t x = 0; x < image.width; ++x) {
            Rgb& out = image.pixels[y * image.width + x];
            if (bits <= 8) {
                size_t bit = x * bits;
                unsigned byte = static_cast<uint8_t>(dib[row + bit / 8]);
                size_t index = (byte >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
                if (index >= colours)
                    continue;
                size_t at = paletteAt + index * paletteEntry;
                out = { static_cast<uint8_t>(dib[at + 2]), static_cast<uint8_t>(dib[at + 1]), static_cast<uint8_t>(dib[at]) };
            } else if (bits == 24) {
                size_t at = row + x * 3;
                out = { static_cast<uint8_t>(dib[at + 2]), static_cast<uint8_t>(dib[at + 1]), static_cast<uint8_t>(dib[at]) };
            } else {
                uint32_t value = bits == 16 ? le16(dib, row + x * 2) : le32(dib, row + x * 4);
                out = { channel(value, masks[0]), channel(value, masks[1]), channel(value, masks[2]) };
            }
        }
    }
    return image;
}

uint8_t nearestColour(Rgb colour, int colours)
{
    int count = colours >= 256 ? 256 : colours >= 16 ? 16 : 8;
    int best = 0;
    long bestDistance = -1;
    for (int i = 0; i < count; ++i) {
        Rgb p = paletteColour(i);
        long dr = colour.r - p.r, dg = colour.g - p.g, db = colour.b - p.b;
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    return static_cast<uint8_t>(best);
}

std::vector<HalfBlock> halfBlocks(const Image& image, size_t columns, size_t rows, int colours)
{
    std::vector<HalfBlock> cells;
    if (!columns || !rows || !image.width || !image.height)
        return cells;
    size_t height = rows * 2;
    auto pixel = [&](size_t x, size_t y) {
        // The box of the picture's pixels this pixel covers, at least one.
        size_t x0 = x * image.width / columns, x1 = std::max(x0 + 1, (x + 1) * image.width / columns);
        size_t y0 = y * image.height / height, y1 = std::max(y0 + 1, (y + 1) * image.height / height);
        unsigned long r = 0, g = 0, b = 0, n = 0;
        for (size_t sy = y0; sy < y1 && sy < image.height; ++sy)
            for (size_t sx = x0; sx < x1 && sx < image.width; ++sx) {
                const Rgb& p = image.pixels[sy * image.width + sx];
                r += p.r;
                g += p.g;
                b += p.b;
                ++n;
            }
        n = std::max(n, 1ul);
        return nearestColour({ static_cast<uint8_t>(r / n), static_cast<uint8_t>(g / n), static_cast<uint8_t>(b / n) }, colours);
    };
    cells.reserve(columns * rows);
    for (size_t row = 0; row < rows; ++row)
        for (size_t column = 0; column < columns; ++column)
            cells.push_back({ pixel(column, row * 2), pixel(column, row * 2 + 1) });
    return cells;
}

}
