#include "InfParser.h"

namespace ntsim::inf {

std::string foldCase(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool equalsFolded(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
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

const std::string* Document::string(std::string_view key) const
{
    auto it = m_strings.find(foldCase(key));
    return it == m_strings.end() ? nullptr : &it->second;
}

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

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
    bool started() const { return m_started; }
    size_t size() const { return m_text.size(); }
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
            physicalLine(m_text.substr(pos, end - pos), number);
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
        if (!m_inLine) {
            size_t first = 0;
            while (first < text.size() && isBlank(text[first]))
                ++first;
            if (first < text.size() && text[first] == '[') {
                sectionHeader(text.substr(first + 1), number);
                return;
            }
            m_inLine = true;
            m_line = Line();
            m_line.number = number;
            m_commaSeen = false;
            m_valueStarted = false;
        }
        bool quoted = false;
        for (size_t i = 0; i < text.size(); ++i) {
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
                return; // the logical line goes on with the next physical line
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
        bool keyOnly = m_line.hasKey && !m_valueStarted;
        if (!keyOnly && (m_valueStarted || m_field.started() || !m_line.values.empty()))
            m_line.values.push_back(m_field.take());
        else
            m_field.take();
        if (!m_line.hasKey && m_line.values.empty())
            return; // blank or comment
        if (m_line.key.size() > MaxStringLength) {
            fail(ParseError::GeneralSyntax, m_line.number);
            return;
        }
        if (!m_current) {
            fail(ParseError::ExpectedSectionName, m_line.number);
            return;
        }
        if (m_inStrings && m_line.hasKey) {
            std::string key = foldCase(m_line.key);
            std::string value = m_line.values.empty() ? std::string() : m_line.values.front();
            m_doc.m_strings.emplace(std::move(key), std::move(value));
        }
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
        std::string_view name = rest.substr(0, close);
        while (!name.empty() && isBlank(name.front()))
            name.remove_prefix(1);
        while (!name.empty() && isBlank(name.back()))
            name.remove_suffix(1);
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
    Line m_line;
    FieldBuilder m_field;
    bool m_commaSeen { false };
    bool m_valueStarted { false };
};

ParseResult parse(std::string_view text, Document& out)
{
    out = Document();
    // A UTF-8 byte order mark is not part of the first line.
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    return Parser(text, out).run();
}

bool substitute(std::string_view raw, const Document& document, const Resolver& resolver, std::string& out)
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
        } else if (const std::string* value = document.string(name)) {
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
