// An open INF file of the machine: the parsed document with the files
// appended to it, where each came from, the caller's DIRIDs, and the
// reading of fields with strings and DIRIDs resolved. Text is UTF-8 (Text.h).
#pragma once
#include "InfParser.h"
#include "Text.h"

#include <setupapi.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace ntsim::setupapi {

class InfFile {
public:
    InfFile(inf::Document document, std::string ntPath, DWORD style);

    const inf::Document& document() const { return m_document; }
    // Where a part of the set came from; part 0 is the file first opened.
    const std::string& ntPath(unsigned part = 0) const { return m_parts[part]->ntPath; }
    // The part's directory (DIRID 1 while its fields are read).
    const std::string& directory(unsigned part = 0) const { return m_parts[part]->directory; }
    DWORD style(unsigned part = 0) const { return m_parts[part]->style; }
    void setStyle(DWORD style) { m_parts.front()->style = style; }
    unsigned parts() const { return static_cast<unsigned>(m_parts.size()); }
    // What INFCONTEXT.CurrentInf holds for a part: the handle for the first.
    PVOID partIdentity(unsigned part) const;
    // Takes another file's sections as the next part (SetupOpenAppendInfFile).
    void append(std::unique_ptr<InfFile> other);

    const inf::Section* section(std::string_view name) const { return m_document.find(name); }
    // Resolves strings and DIRIDs in a raw text of the line; false when the
    // result is too long.
    bool resolve(const inf::Line& line, std::string_view raw, std::string& out) const;
    // Field 0 is the key, or the only value of a line without one; a line
    // of several values and no key has no field 0. NO_ERROR when found.
    DWORD field(const inf::Line& line, DWORD index, std::string& out) const;
    // The resolved fields of a line from `first` on; one that cannot be
    // read is empty.
    std::vector<std::string> values(const inf::Line& line, DWORD first = 1) const;
    // The values of every "Directive = a, b, ..." line of a section, in
    // order, empty ones left out.
    std::vector<std::string> directiveValues(const inf::Section& section, std::string_view directive) const;
    bool keyMatches(const inf::Line& line, std::string_view key) const;
    // The first line of the section with that key, through an index of the
    // section's keys made at its first lookup: a long list costs no scan a file.
    const inf::Line* lineWithKey(const inf::Section& section, std::string_view key) const;

    // The directories SetupSetDirectoryId gave ids of DIRID_USER and above.
    void setUserDirectory(DWORD id, std::optional<std::string> path);
    void clearUserDirectories() { m_userDirectories.clear(); }
    // The full path of a DIRID, the caller's own first; DIRID 1 is
    // sourcePath. Empty for one the machine does not have.
    std::string dirIdPath(long id, const std::string& sourcePath) const;

    // The handle table: handles are validated on every call.
    static HINF add(std::unique_ptr<InfFile> file);
    static InfFile* fromHandle(HINF handle);
    static bool close(HINF handle);

private:
    struct Part {
        std::string ntPath;
        std::string directory;
        DWORD style;
    };

    inf::Document m_document;
    // Held by pointer: a part's address is its INFCONTEXT identity.
    std::vector<std::unique_ptr<Part>> m_parts;
    std::map<DWORD, std::string> m_userDirectories;
    mutable std::unordered_map<const inf::Section*, std::unordered_map<std::string, const inf::Line*>> m_keyIndex;
};

// Finds, reads and parses an INF as SetupOpenInfFile does (a bare name is
// looked for in the INF directory, then in system32); NO_ERROR or the error
// that call would give. The class (UTF-8), when given, is compared with the
// INF's.
DWORD loadInfFile(const std::string& name, PCSTR infClass, DWORD style, PUINT errorLine,
    std::unique_ptr<InfFile>& out);
// A value of the [Version] section of a part, resolved; empty when there is none.
std::string versionValue(const InfFile& file, const char* key, unsigned part = 0);

// The full NT path of a standard DIRID, or empty for one the machine does
// not have. DIRID 1 is sourcePath.
std::string dirIdPath(long id, const std::string& sourcePath);
// A "dirid[,subdir]" pair of DestinationDirs and similar lines.
std::string joinNtPath(const std::string& dir, const std::string& sub);

// An integer field as SetupGetIntField reads it (an empty one is the
// caller's to decide): a sign, then decimal, or hex after 0x; 32 bits.
bool readInt(const std::string& text, INT& value);

// A byte written in hex, 0 to FF, as binary fields hold them.
bool readHexByte(const std::string& text, BYTE& out);

// Whether a regular file of the machine is at a full NT path.
bool isFileOnMachine(const std::string& ntPath);

// Sets the last error and returns FALSE, as a failing call does.
BOOL failWith(DWORD error);
// The last error of a call's end: TRUE and NO_ERROR, or FALSE and the error.
BOOL finish(DWORD error);

// The line a context names, or null with the last error set.
const inf::Line* lineOf(const INFCONTEXT* context, InfFile** file = nullptr);
// Fills a context for a line of a section of the file behind a handle.
void setContext(const InfFile& file, HINF handle, UINT section, UINT line, PINFCONTEXT context);

}
