// An open INF file of the machine: the parsed document, where it came
// from, and the reading of its fields with strings and DIRIDs resolved.
#pragma once
#include "InfParser.h"

#include <setupapi.h>

#include <memory>
#include <string>
#include <unordered_map>

namespace ntsim::setupapi {

class InfFile {
public:
    InfFile(inf::Document document, std::string ntPath, DWORD style);

    const inf::Document& document() const { return m_document; }
    const std::string& ntPath() const { return m_ntPath; }
    // The INF's directory (DIRID 1 while its fields are read).
    const std::string& directory() const { return m_directory; }
    DWORD style() const { return m_style; }
    void setStyle(DWORD style) { m_style = style; }

    const inf::Section* section(std::string_view name) const { return m_document.find(name); }
    // Resolves strings and DIRIDs; false when the text is too long.
    bool resolve(std::string_view raw, std::string& out) const;
    // Field 0 is the key, or the first value of a line without one.
    // Returns an error code, NO_ERROR when found.
    DWORD field(const inf::Line& line, DWORD index, std::string& out) const;
    bool keyMatches(const inf::Line& line, std::string_view key) const;
    // The first line of the section with that key, through an index of the
    // section's keys made at its first lookup: a long list costs no scan a file.
    const inf::Line* lineWithKey(const inf::Section& section, std::string_view key) const;

    // The handle table: handles are validated on every call.
    static HINF add(std::unique_ptr<InfFile> file);
    static InfFile* fromHandle(HINF handle);
    static bool close(HINF handle);

private:
    inf::Document m_document;
    std::string m_ntPath;
    std::string m_directory;
    DWORD m_style;
    mutable std::unordered_map<const inf::Section*, std::unordered_map<std::string, const inf::Line*>> m_keyIndex;
};

// Finds, reads and parses an INF as SetupOpenInfFileA does (a bare name
// is looked for in the INF directory, then in system32); NO_ERROR or the
// error that call would give.
DWORD loadInfFile(const std::string& name, PCSTR infClass, DWORD style, PUINT errorLine, std::unique_ptr<InfFile>& out);
// A value of the [Version] section, resolved; empty when there is none.
std::string versionValue(const InfFile& file, const char* key);

// The full NT path of a DIRID, or empty for one the machine does not have.
// DIRID 1 is sourcePath.
std::string dirIdPath(long id, const std::string& sourcePath);
// A "dirid[,subdir]" pair of DestinationDirs and similar lines.
std::string joinNtPath(const std::string& dir, const std::string& sub);

// Copies a result string out as the Setup API does: RequiredSize counts the
// NUL; a null buffer asks for the size only.
BOOL copyString(const std::string& text, PSTR buffer, DWORD size, PDWORD requiredSize);

// Sets the last error and returns FALSE, as a failing call does.
BOOL failWith(DWORD error);

// The line a context names, or null with the last error set.
const inf::Line* lineOf(PINFCONTEXT context, InfFile** file = nullptr);

}
