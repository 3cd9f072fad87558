// JSON for machine.json, the run-time state, the message channel and the
// transcripts: the kept library, members in the order they were set.
#pragma once
#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>

namespace ntsim {

using Json = nlohmann::ordered_json;

// Parses text; on malformed input returns false and says what and where.
bool parseJson(const std::string& text, Json& out, std::string& error);

// One line, no blanks: the form of a transcript line and of a message.
std::string dumpLine(const Json& j);
// Two blanks a level and a closing line break: the form of machine.json.
std::string dumpPretty(const Json& j);

// Members read leniently, for state our own processes wrote: a member that
// is missing or of another type gives the fallback, never an exception.
const Json& member(const Json& j, const char* key);
std::string stringMember(const Json& j, const char* key, const std::string& fallback = {});
int64_t intMember(const Json& j, const char* key, int64_t fallback = 0);
bool boolMember(const Json& j, const char* key, bool fallback = false);

// Bytes in the machine's code page (window titles, message texts) as a
// JSON string and back: each byte one code point below U+0100, so that no
// byte is lost or refused for not being UTF-8.
Json bytesJson(const std::string& bytes);
std::string bytesOf(const Json& j);

}
