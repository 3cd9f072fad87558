// The parts of the Windows desk that do not need Windows: its script
// lines, the transcript's JSON strings and the PNG files of its shots.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace windesk {

// One answer of a script: for the window titled `title` when addressed,
// else for the started program's windows in order.
struct ScriptLine {
    int number = 0;       // the line's number in its file, for messages
    bool addressed = false;
    std::string title;    // lower-cased, as titles are compared
    std::string answer;   // lower-cased: "next", "ok", "select united states"
};

// Reads one line of a script. Returns false with `error` set for a line
// that is not an answer; blank lines and comments give false with no error.
bool parseScriptLine(const std::string& text, int number, ScriptLine& line, std::string& error);

std::string lowered(const std::string& text);

// A JSON string literal of UTF-8 text, quotes included.
std::string jsonString(const std::string& utf8);

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t adler32(const uint8_t* data, size_t size, uint32_t adler = 1);

// A PNG file of an 8-bit RGB picture, rows top first, 3 bytes a pixel.
// The image data is deflated in stored blocks: the file is big, but the
// desk needs no compressor.
std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb);

}
