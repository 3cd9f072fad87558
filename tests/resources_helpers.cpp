#include "resources_helpers.h"

#include "machine/CodePage.h"
#include "machine/FileLock.h"

namespace restest {

const std::vector<Language>& languages()
{
    static const std::vector<Language> all {
        { 0x0006, 1252, "Danish" }, { 0x0007, 1252, "German" }, { 0x0009, 1252, "English" },
        { 0x000A, 1252, "Spanish" }, { 0x000B, 1252, "Finnish" }, { 0x000C, 1252, "French" },
        { 0x0010, 1252, "Italian" }, { 0x0011, 932, "Japanese" }, { 0x0013, 1252, "Dutch" },
        { 0x0014, 1252, "Norwegian" }, { 0x0016, 1252, "Portuguese" }, { 0x001D, 1252, "Swedish" },
        { 0x0404, 950, "Chinese (Traditional)" }, { 0x0804, 936, "Chinese (Simplified)" },
    };
    return all;
}

const std::map<UINT, std::string>& englishTexts()
{
    static const std::map<UINT, std::string> texts {
        { 1, "Installation Error" },
        { 2, "Unable to load the Setup program resource file.\nCopy the file to the Setup directory and re-run Setup." },
        { 10, "The wizard was unable to install the modem because it is already installed. Please un-install the modem from the control panel Add/Remove Programs applet before running this program again." },
        { 11, "The wizard was unable to continue because it could not locate a valid setup  INF file in its local directory. The file might be missing, or it might contain entries the wizard cannot understand." },
        { 12, "The wizard was unable to continue because it could not locate a valid modem  INF file in the system INF directory. The file might be missing, or it might contain entries the wizard cannot understand." },
        { 13, "Modem Board Installation Wizard" },
        { 14, "The wizard cannot proceed because it does not have access to the system data files. You must be logged in as a system administrator to run this program." },
        { 15, "Modem Board Uninstallation Wizard" },
        { 16, "Installation Error" },
        { 111, "Welcome to the modem board installation wizard." },
        { 112, "This wizard will install a new modem driver on your computer." },
        { 113, "To begin installing the modem driver, click Next." },
        { 114, "The wizard will install the modem driver shown below." },
        { 116, "To install the modem driver, click Next." },
        { 117, "The modem driver was installed successfully:" },
        { 119, "To return to Windows NT, click Finish." },
        { 120, "The driver could not be installed" },
        { 121, "If you would like to try again, click Back." },
        { 122, "The wizard will un-install the modem driver shown below." },
        { 124, "To un-install the modem driver, click Next." },
        { 125, "The modem driver was un-installed successfully:" },
        { 127, "To return to Windows NT, click Finish." },
    };
    return texts;
}

std::string resourceBytes(HMODULE module, LPCSTR type, WORD id, WORD language)
{
    HRSRC info = FindResourceExA(module, type, MAKEINTRESOURCEA(id), language);
    if (!info)
        return {};
    auto* data = static_cast<const char*>(LockResource(LoadResource(module, info)));
    DWORD size = SizeofResource(module, info);
    return data ? std::string(data, size) : std::string();
}

std::map<UINT, std::u16string> stringsOf(HMODULE module, WORD language)
{
    std::map<UINT, std::u16string> out;
    for (WORD block = 1; block <= 64; ++block) {
        std::string bytes = resourceBytes(module, RT_STRING, block, language);
        size_t offset = 0;
        for (UINT index = 0; index < 16 && offset + 2 <= bytes.size(); ++index) {
            size_t length = static_cast<BYTE>(bytes[offset]) | static_cast<BYTE>(bytes[offset + 1]) << 8;
            offset += 2;
            std::u16string text;
            for (size_t k = 0; k < length && offset + 2 * k + 1 < bytes.size(); ++k)
                text += static_cast<char16_t>(static_cast<BYTE>(bytes[offset + 2 * k]) | static_cast<BYTE>(bytes[offset + 2 * k + 1]) << 8);
            offset += 2 * length;
            if (!text.empty())
                out[(block - 1) * 16u + index] = text;
        }
    }
    return out;
}

namespace {

class Cursor {
public:
    Cursor(const BYTE* data, DWORD size)
        : m_data(data)
        , m_size(size)
    {
    }
    bool ok() const { return m_ok; }
    WORD word()
    {
        if (m_offset + 2 > m_size) {
            m_ok = false;
            return 0;
        }
        WORD v = static_cast<WORD>(m_data[m_offset] | m_data[m_offset + 1] << 8);
        m_offset += 2;
        return v;
    }
    DWORD dword()
    {
        DWORD low = word();
        return low | DWORD(word()) << 16;
    }
    std::u16string string()
    {
        std::u16string s;
        while (m_ok) {
            WORD c = word();
            if (!c)
                break;
            s += static_cast<char16_t>(c);
        }
        return s;
    }
    // An ordinal (0xFFFF, id) or a string; returns the ordinal or 0.
    WORD ordinalOrString(std::u16string& text)
    {
        WORD first = word();
        if (first == 0xFFFF)
            return word();
        if (first == 0)
            return 0;
        text = static_cast<char16_t>(first);
        text += string();
        return 0;
    }
    void alignDword() { m_offset = (m_offset + 3) & ~size_t(3); }

private:
    const BYTE* m_data;
    DWORD m_size;
    size_t m_offset { 0 };
    bool m_ok { true };
};

}

DialogTemplate parseDialog(const BYTE* data, DWORD size)
{
    DialogTemplate d;
    Cursor c(data, size);
    d.style = c.dword();
    d.exStyle = c.dword();
    WORD count = c.word();
    c.word();
    c.word();
    d.cx = static_cast<short>(c.word());
    d.cy = static_cast<short>(c.word());
    std::u16string ignored;
    c.ordinalOrString(ignored); // menu
    c.ordinalOrString(ignored); // class
    d.caption = c.string();
    if (d.style & 0x40) {
        d.pointSize = c.word();
        d.font = c.string();
    }
    for (WORD i = 0; i < count && c.ok(); ++i) {
        c.alignDword();
        DialogItem item;
        item.style = c.dword();
        c.dword();
        item.x = static_cast<short>(c.word());
        item.y = static_cast<short>(c.word());
        item.cx = static_cast<short>(c.word());
        item.cy = static_cast<short>(c.word());
        item.id = c.word();
        item.classAtom = c.ordinalOrString(item.className);
        item.titleOrdinal = c.ordinalOrString(item.title);
        WORD extra = c.word();
        for (WORD k = 0; k < (extra + 1) / 2; ++k)
            c.word();
        d.items.push_back(item);
    }
    d.valid = c.ok();
    return d;
}

const DialogItem* DialogTemplate::item(WORD id) const
{
    for (auto& i : items)
        if (i.id == id)
            return &i;
    return nullptr;
}

std::u16string utf16(const std::string& text, unsigned codePage)
{
    std::u16string out;
    ntsim::toUtf16(text, codePage, out);
    return out;
}

std::string readHostFile(const std::string& path)
{
    std::string bytes;
    ntsim::readWholeFile(path, bytes);
    return bytes;
}

}
