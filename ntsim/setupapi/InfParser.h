// The INF parser: text to a tree of sections, lines and fields. It knows
// nothing of the machine, so that it can be built and fuzzed on its own.
// Text is UTF-8 throughout; the caller decodes a file's bytes.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ntsim::inf {

// MAX_INF_STRING_LENGTH and MAX_SECT_NAME_LEN of the platform.
constexpr size_t MaxStringLength = 4096;
constexpr size_t MaxSectionNameLength = 255;

enum class ParseError {
    None,
    BadSectionNameLine, // "[name" without its bracket
    SectionNameTooLong,
    GeneralSyntax,      // a key or field longer than MaxStringLength
};

// Fields are kept as written, quotes removed but %tokens% unresolved:
// substitution happens when a field is read.
struct Line {
    bool hasKey { false };
    std::string key;
    std::vector<std::string> values;
    unsigned number { 0 }; // 1-based number of the line's first physical line
    unsigned part { 0 };   // the file of an appended set it came from
};

struct Section {
    std::string name;
    std::vector<Line> lines;
};

class Document {
public:
    const Section* find(std::string_view name) const;
    // The [Strings] value of a key in one file of the set, matched without
    // regard to case.
    const std::string* string(std::string_view key, unsigned part = 0) const;

    // Another file's sections after this one's: a section both have keeps
    // this one's lines first. Its lines become the next part.
    void append(Document&& other);
    unsigned parts() const { return static_cast<unsigned>(m_strings.size()); }

    std::vector<Section> sections; // in the order of first appearance
private:
    friend class Parser;
    std::unordered_map<std::string, size_t> m_index;
    std::vector<std::unordered_map<std::string, std::string>> m_strings { 1 };
};

struct ParseResult {
    ParseError error { ParseError::None };
    unsigned errorLine { 0 };
};

// Parses UTF-8 text (other encodings are decoded by the caller; a UTF-8
// byte order mark is skipped). Linear in the text's length.
ParseResult parse(std::string_view text, Document& out);

// Answers a %name% that [Strings] does not know (the DIRIDs), or nothing.
using Resolver = std::function<std::optional<std::string>(std::string_view name)>;

// Resolves %name% tokens and %% in a raw field with the strings of one
// part. Unknown tokens stay as written. False when the result would exceed
// MaxStringLength.
bool substitute(std::string_view raw, const Document& document, unsigned part, const Resolver& resolver,
    std::string& out);

// Upper case as section names and keys are compared: ASCII and the Latin,
// Greek and Cyrillic letters the machines' code pages hold.
std::string foldCase(std::string_view s);
bool equalsFolded(std::string_view a, std::string_view b);

}
