#include "InfParser.h"

#include "machine/Utf8.h"

namespace ntsim::inf {

namespace {

// The upper case of a letter outside ASCII, or the letter itself.
char32_t upperCodePoint(char32_t c)
{
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7))
        return c - 0x20; // Latin-1
    if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
        // Latin Extended-A pairs: even upper, odd lower, but for the runs
        // that start at an odd code point.
        bool oddRun = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        bool lower = oddRun ? (c % 2 == 0) : (c % 2 == 1);
        return lower ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2)
        return c - 0x20; // Greek
    if (c >= 0x430 && c <= 0x44F)
        return c - 0x20; // Cyrillic
    if (c >= 0x450 && c <= 0x45F)
        return c - 0x50;
    return c;
}

// Folds the code point at s[i] into out, moving i past it.
void foldCodePoint(std::string_view s, size_t& i, std::string& out)
{
    size_t start = i;
    char32_t c = utf::next(s, i);
    // A byte that begins no sequence is kept as it is.
    if (c == 0xFFFD && i == start + 1)
        out += s[start];
    else
        utf::append(upperCodePoint(c), out);
}

}

std::string foldCase(std::string_view s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (static_cast<unsigned char>(c) >= 0x80) {
            foldCodePoint(s, i, out);
            continue;
        }
        out += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        ++i;
    }
    return out;
}

bool equalsFolded(std::string_view a, std::string_view b)
{
    // Folding keeps a text's length.
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (static_cast<unsigned char>(x) >= 0x80 || static_cast<unsigned char>(y) >= 0x80)
            return foldCase(a) == foldCase(b);
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

const Section* Document::find(std::string_view name) const
{
    auto it = m_index.find(foldCase(name));
    return it == m_index.end() ? nullptr : &sections[it->second];
}

const std::string* Document::string(std::string_view key, unsigned part) const
{
    if (part >= m_strings.size())
        return nullptr;
    auto it = m_strings[part].find(foldCase(key));
    return it == m_strings[part].end() ? nullptr : &it->second;
}

void Document::append(Document&& other)
{
    unsigned part = parts();
    for (auto& section : other.sections) {
        auto [it, added] = m_index.emplace(foldCase(section.name), sections.size());
        if (added)
            sections.push_back(Section { section.name, {} });
        auto& lines = sections[it->second].lines;
        for (auto& line : section.lines) {
            line.part = part;
            lines.push_back(std::move(line));
        }
    }
    m_strings.push_back(std::move(other.m_strings.front()));
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// The end of file for the platform's parser, as it was for MS-DOS.
constexpr char ControlZ = '\x1A';

// One field being assembled: blanks outside quotes are dropped at both ends.
class FieldBuilder {
public:
    void addPlain(char c)
    {
        if (isBlank(c)) {
            if (!m_text.empty())
                m_text += c;
            return;
        }
        m_text += c;
        m_significant = m_text.size();
        m_started = true;
    }
    void addQuoted(char c)
    {
        m_text += c;
        m_significant = m_text.size();
        m_started = true;
    }
    void markQuoted() { m_started = true; }
    // Where a line is continued its blanks go, so the two parts join.
    void dropTrailingBlanks() { m_text.resize(m_significant); }
    bool started() const { return m_started; }
    // The length the field has so far, blanks that may yet go left out.
    size_t size() const { return m_significant; }
    std::string take()
    {
        m_text.resize(m_significant);
        std::string out = std::move(m_text);
        *this = FieldBuilder();
        return out;
    }

private:
    std::string m_text;
    size_t m_significant { 0 };
    bool m_started { false };
};

}

class Parser {
public:
    Parser(std::string_view text, Document& doc)
        : m_text(text)
        , m_doc(doc)
    {
    }

    ParseResult run()
    {
        size_t pos = 0;
        unsigned number = 0;
        while (pos < m_text.size() && m_result.error == ParseError::None) {
            size_t end = m_text.find('\n', pos);
            if (end == std::string_view::npos)
                end = m_text.size();
            ++number;
            std::string_view line = m_text.substr(pos, end - pos);
            // A line ends with CR LF as well as with LF.
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            physicalLine(line, number);
            pos = end + 1;
        }
        if (m_result.error == ParseError::None && m_inLine)
            endLine();
        return m_result;
    }

private:
    void fail(ParseError error, unsigned line)
    {
        if (m_result.error == ParseError::None) {
            m_result.error = error;
            m_result.errorLine = line;
        }
    }

    void physicalLine(std::string_view text, unsigned number)
    {
        size_t first = 0;
        if (!m_inLine || m_continued) {
            while (first < text.size() && isBlank(text[first]))
                ++first;
        }
        m_continued = false;
        if (!m_inLine) {
            if (first < text.size() && text[first] == '[') {
                sectionHeader(text.substr(first + 1), number);
                return;
            }
            // Text before the first section is passed over.
            if (!m_current)
                return;
            m_inLine = true;
            m_line = Line();
            m_line.number = number;
            m_commaSeen = false;
            m_valueStarted = false;
        }
        bool quoted = false;
        for (size_t i = first; i < text.size(); ++i) {
            char c = text[i];
            if (quoted) {
                if (c == '"') {
                    if (i + 1 < text.size() && text[i + 1] == '"') {
                        m_field.addQuoted('"');
                        ++i;
                    } else {
                        quoted = false;
                    }
                } else {
                    m_field.addQuoted(c);
                }
            } else if (c == '"') {
                quoted = true;
                m_field.markQuoted();
                m_valueStarted = true;
            } else if (c == ';') {
                break;
            } else if (c == '\\' && continues(text.substr(i + 1))) {
                // The logical line goes on with the next physical line.
                m_field.dropTrailingBlanks();
                m_continued = true;
                return;
            } else if (c == '=' && !m_line.hasKey && !m_commaSeen) {
                m_line.hasKey = true;
                m_line.key = m_field.take();
                m_valueStarted = false;
            } else if (c == ',' && m_splitCommas) {
                m_commaSeen = true;
                m_valueStarted = true;
                m_line.values.push_back(m_field.take());
            } else {
                m_field.addPlain(c);
                if (!isBlank(c))
                    m_valueStarted = true;
            }
            if (m_field.size() > MaxStringLength) {
                fail(ParseError::GeneralSyntax, number);
                return;
            }
        }
        endLine();
    }

    // A backslash continues the line when only blanks or a comment follow.
    static bool continues(std::string_view rest)
    {
        for (char c : rest) {
            if (c == ';')
                return true;
            if (!isBlank(c))
                return false;
        }
        return true;
    }

    void endLine()
    {
        m_inLine = false;
        // "key =" has one field, empty; a line of blanks has none.
        if (m_line.hasKey || m_valueStarted || m_field.started() || !m_line.values.empty())
            m_line.values.push_back(m_field.take());
        else
            m_field.take();
        if (!m_line.hasKey && m_line.values.empty())
            return; // blank or comment
        if (m_line.key.size() > MaxStringLength) {
            fail(ParseError::GeneralSyntax, m_line.number);
            return;
        }
        if (m_inStrings && m_line.hasKey)
            m_doc.m_strings.front().emplace(foldCase(m_line.key), m_line.values.front());
        m_doc.sections[*m_current].lines.push_back(std::move(m_line));
        m_line = Line();
    }

    void sectionHeader(std::string_view rest, unsigned number)
    {
        size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            fail(ParseError::BadSectionNameLine, number);
            return;
        }
        // The name is all between the brackets, its blanks too.
        std::string_view name = rest.substr(0, close);
        if (name.size() > MaxSectionNameLength) {
            fail(ParseError::SectionNameTooLong, number);
            return;
        }
        std::string folded = foldCase(name);
        auto [it, added] = m_doc.m_index.emplace(folded, m_doc.sections.size());
        if (added)
            m_doc.sections.push_back(Section { std::string(name), {} });
        m_current = it->second;
        // A [Strings] value is the whole text after '=', commas and all.
        m_inStrings = folded == "STRINGS";
        m_splitCommas = !m_inStrings;
    }

    std::string_view m_text;
    Document& m_doc;
    ParseResult m_result;
    std::optional<size_t> m_current;
    bool m_inStrings { false };
    bool m_splitCommas { true };

    bool m_inLine { false };
    bool m_continued { false };
    Line m_line;
    FieldBuilder m_field;
    bool m_commaSeen { false };
    bool m_valueStarted { false };
};

ParseResult parse(std::string_view text, Document& out)
{
    out = Document();
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    text = text.substr(0, text.find(ControlZ));
    return Parser(text, out).run();
}

bool substitute(std::string_view raw, const Document& document, unsigned part, const Resolver& resolver,
    std::string& out)
{
    out.clear();
    size_t i = 0;
    while (i < raw.size()) {
        size_t open = raw.find('%', i);
        if (open == std::string_view::npos) {
            out.append(raw.substr(i));
            break;
        }
        out.append(raw.substr(i, open - i));
        size_t close = raw.find('%', open + 1);
        if (close == std::string_view::npos) {
            out.append(raw.substr(open));
            break;
        }
        std::string_view name = raw.substr(open + 1, close - open - 1);
        if (name.empty()) {
            out += '%';
        } else if (const std::string* value = document.string(name, part)) {
            out += *value;
        } else if (auto resolved = resolver ? resolver(name) : std::nullopt) {
            out += *resolved;
        } else {
            out.append(raw.substr(open, close - open + 1));
        }
        i = close + 1;
        if (out.size() > MaxStringLength)
            return false;
    }
    return out.size() <= MaxStringLength;
}

}
