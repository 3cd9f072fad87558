// The registry's journal: one text line per change, appended under the
// registry lock. Each line carries a checksum, so a line torn by a killed
// writer is recognised and never applied.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ntsim::registry {

struct JournalRecord {
    enum Op : char {
        CreateKey = 'K',   // path sddl class
        DeleteKey = 'D',   // path
        SetValue = 'V',    // path name type hexdata
        DeleteValue = 'X', // path name
        SetSecurity = 'S', // path sddl
    };
    Op op { CreateKey };
    uint64_t time { 0 };
    std::vector<std::string> fields;
};

std::string encodeRecord(const JournalRecord& record);

// Decodes the complete lines of data; returns the bytes they take. Stops
// before a line without its newline (a torn tail); skips a complete line
// whose checksum or form is wrong.
size_t decodeRecords(const char* data, size_t size, std::vector<JournalRecord>& out);

// The first line of every journal.
std::string journalHeader(unsigned epoch);
// Reads the epoch from a journal's first line; false if it has none.
bool parseJournalHeader(const std::string& line, unsigned& epoch);

std::string toHex(const std::vector<uint8_t>& data);
bool fromHex(const std::string& text, std::vector<uint8_t>& out);

}
