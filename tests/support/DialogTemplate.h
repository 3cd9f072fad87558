// Dialog templates in memory, for tests of the dialog and property-sheet
// code that need a page or dialog of their own.
#pragma once
#include <windows.h>

#include <vector>

namespace test {

// A dialog template in memory, written as the resource compiler writes one.
class TemplateBuilder {
public:
    // With the font the program's templates use; a title may be empty.
    TemplateBuilder(DWORD style, short cx, short cy, const char* title)
    {
        dword(style | DS_SETFONT);
        dword(0);
        m_countAt = m_bytes.size();
        word(0);
        for (short v : { short(10), short(10), cx, cy })
            word(static_cast<WORD>(v));
        word(0);
        word(0);
        string(title);
        word(8);
        string("MS Sans Serif");
    }

    void control(WORD classOrdinal, const char* text, WORD id, DWORD style, short x, short y, short cx, short cy)
    {
        while (m_bytes.size() % 4)
            m_bytes.push_back(0);
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : { x, y, cx, cy })
            word(static_cast<WORD>(v));
        word(id);
        word(0xFFFF);
        word(classOrdinal);
        string(text);
        word(0);
        ++m_bytes[m_countAt];
    }

    LPCDLGTEMPLATEA get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(m_bytes.data()); }

private:
    void word(WORD w)
    {
        m_bytes.push_back(static_cast<BYTE>(w));
        m_bytes.push_back(static_cast<BYTE>(w >> 8));
    }
    void dword(DWORD d)
    {
        word(static_cast<WORD>(d));
        word(static_cast<WORD>(d >> 16));
    }
    void string(const char* s)
    {
        for (; *s; ++s)
            word(static_cast<BYTE>(*s));
        word(0);
    }

    std::vector<BYTE> m_bytes;
    size_t m_countAt { 0 };
};

}
