// What the machine's SQLite databases (the registry, the run store) share:
// how a file of the machine's directory is opened, and how it is told to be
// the one it should be.
#pragma once
#include <cstddef>
#include <string>

struct sqlite3;

namespace ntsim::database {

// Opens a database file of the machine for this process's connection.
// The file may have been handed in by a person: its schema may hold
// nothing that runs. Null, with the problem, when it cannot be opened.
sqlite3* open(const std::string& file, int flags, int busyTimeoutMs, std::string& problem);

// What a database says it is: its header's application id and schema
// version and the statements that made its tables.
struct Identity {
    bool readable { false };
    std::string error; // why it could not be read
    int applicationId { 0 };
    int version { 0 };
    bool hasTables { false };
    std::string tables; // the statements, in the order they were made, joined by ';'
};
Identity identify(sqlite3* db);

// Statements joined as Identity::tables gives them.
std::string joined(const char* const* statements, size_t count);

}
