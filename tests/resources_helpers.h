// What the resource tests share: the languages of the string tables, the
// English texts, and readers of string blocks and dialog templates.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace restest {

struct Language {
    WORD id;
    unsigned codePage;
    const char* name;
};

const std::vector<Language>& languages();
const std::map<UINT, std::string>& englishTexts();

// The non-empty strings of the module's table in exactly this language,
// read from the raw blocks.
std::map<UINT, std::u16string> stringsOf(HMODULE module, WORD language);

struct DialogItem {
    DWORD style { 0 };
    short x { 0 }, y { 0 }, cx { 0 }, cy { 0 };
    WORD id { 0 };
    WORD classAtom { 0 };      // 0 when the class is a name
    std::u16string className;
    WORD titleOrdinal { 0 };   // 0 when the title is text
    std::u16string title;
};

struct DialogTemplate {
    bool valid { false };
    DWORD style { 0 };
    DWORD exStyle { 0 };
    short cx { 0 }, cy { 0 };
    std::u16string caption;
    WORD pointSize { 0 };
    std::u16string font;
    std::vector<DialogItem> items;

    const DialogItem* item(WORD id) const;
};

DialogTemplate parseDialog(const BYTE* data, DWORD size);
// The resource's bytes, or nothing.
std::string resourceBytes(HMODULE module, LPCSTR type, WORD id, WORD language);

std::u16string utf16(const std::string& text, unsigned codePage);
std::string readHostFile(const std::string& path);

}
