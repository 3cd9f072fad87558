#include "CodePage.h"

#include "Machine.h"
#include "Unicode.h"

#include <windows.h>

#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <type_traits>

namespace ntsim {

namespace {

const char* iconvName(unsigned codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 850: return "CP850";
    case 932: return "CP932";
    case 936: return "CP936";
    case 950: return "CP950";
    case 1252: return "CP1252";
    case CP_UTF8: return "UTF-8";
    default: return nullptr;
    }
}

// Bytes NT's 1252 table passes through as C1 controls, where iconv has none.
bool isCp1252Hole(unsigned char c)
{
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

class Converter {
public:
    Converter(const char* to, const char* from)
        : m_cd(iconv_open(to, from))
    {
    }
    ~Converter()
    {
        if (ok())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can into out; returns false at a sequence it
    // cannot convert, with in and inLeft at that sequence.
    bool run(char*& in, size_t& inLeft, std::string& out)
    {
        char buffer[4096];
        while (inLeft > 0) {
            char* outPtr = buffer;
            size_t outLeft = sizeof buffer;
            size_t r = iconv(m_cd, &in, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<size_t>(outPtr - buffer));
            if (r != static_cast<size_t>(-1))
                continue;
            if (errno == E2BIG)
                continue;
            return false;
        }
        char* outPtr = buffer;
        size_t outLeft = sizeof buffer;
        iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<size_t>(outPtr - buffer));
        return true;
    }

private:
    iconv_t m_cd;
};

std::u16string fromLittleEndianBytes(const std::string& bytes)
{
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::string toLittleEndianBytes(const char16_t* data, size_t size)
{
    std::string out(size * 2, '\0');
    for (size_t i = 0; i < size; ++i) {
        out[2 * i] = static_cast<char>(data[i] & 0xFF);
        out[2 * i + 1] = static_cast<char>(data[i] >> 8);
    }
    return out;
}

}

unsigned ansiCodePage()
{
    return Machine::current().config().codePage;
}

unsigned resolveCodePage(unsigned codePage)
{
    switch (codePage) {
    case CP_ACP:
    case 3: // CP_THREAD_ACP
        codePage = Machine::current().config().codePage;
        break;
    case CP_OEMCP:
        codePage = Machine::current().config().oemCodePage;
        break;
    default:
        break;
    }
    return iconvName(codePage) ? codePage : 0;
}

bool decodeText(const char* data, size_t size, unsigned codePage, std::u16string& out)
{
    out.clear();
    const char* name = iconvName(codePage);
    if (!name)
        return false;
    // Every code page the machine has keeps ASCII as it is.
    if (isAscii(data, size)) {
        out.assign(data, data + size);
        return true;
    }
    Converter converter("UTF-16LE", name);
    if (!converter.ok())
        return false;
    bool valid = true;
    std::string bytes;
    char* in = const_cast<char*>(data);
    size_t left = size;
    while (!converter.run(in, left, bytes)) {
        unsigned char c = static_cast<unsigned char>(*in);
        char16_t replacement = u'\xFFFD';
        if (codePage == 1252 && isCp1252Hole(c))
            replacement = c;
        else
            valid = false;
        bytes += static_cast<char>(replacement & 0xFF);
        bytes += static_cast<char>(replacement >> 8);
        ++in;
        --left;
    }
    out = fromLittleEndianBytes(bytes);
    return valid;
}

bool encodeText(const char16_t* data, size_t size, unsigned codePage, const std::string& defaultChar, std::string& out)
{
    out.clear();
    const char* name = iconvName(codePage);
    if (!name)
        return false;
    if (isAscii(data, size)) {
        out.assign(data, data + size);
        return true;
    }
    Converter converter(name, "UTF-16LE");
    if (!converter.ok())
        return false;
    bool mapped = true;
    std::string units = toLittleEndianBytes(data, size);
    char* in = units.data();
    size_t left = units.size();
    while (!converter.run(in, left, out)) {
        size_t index = static_cast<size_t>(in - units.data()) / 2;
        char16_t c = data[index];
        size_t skip = 1;
        if (c >= 0xD800 && c <= 0xDBFF && index + 1 < size && data[index + 1] >= 0xDC00 && data[index + 1] <= 0xDFFF)
            skip = 2;
        if (codePage == 1252 && c < 0x100 && isCp1252Hole(static_cast<unsigned char>(c))) {
            out += static_cast<char>(c);
        } else if (codePage == CP_UTF8) {
            out += "\xEF\xBF\xBD"; // a lone surrogate
        } else {
            out += defaultChar;
            mapped = false;
        }
        in += 2 * skip;
        left -= 2 * skip;
    }
    return mapped;
}

bool toUtf16(const std::string& text, unsigned codePage, std::u16string& out)
{
    return decodeText(text.data(), text.size(), codePage, out);
}

bool fromUtf16(const std::u16string& text, unsigned codePage, std::string& out)
{
    return encodeText(text.data(), text.size(), codePage, "?", out);
}

namespace {

// Text of one code page in another, what neither can map as '?'.
std::string recode(const std::string& text, unsigned from, unsigned to)
{
    std::u16string wide;
    toUtf16(text, from, wide);
    std::string out;
    fromUtf16(wide, to, out);
    return out;
}

}

std::string ansiToUtf8(const std::string& text, unsigned codePage)
{
    return recode(text, codePage, CP_UTF8);
}

std::string utf8ToAnsi(const std::string& text, unsigned codePage)
{
    return recode(text, CP_UTF8, codePage);
}

}
