// A small JSON value: enough for machine.json and the desk's transcript.
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace ntsim {

class Json {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };

    Json() = default;
    Json(std::nullptr_t) { }
    Json(bool b) : m_kind(Kind::Bool), m_bool(b) { }
    Json(int n) : m_kind(Kind::Number), m_number(n) { }
    Json(unsigned n) : m_kind(Kind::Number), m_number(n) { }
    Json(int64_t n) : m_kind(Kind::Number), m_number(static_cast<double>(n)) { }
    Json(double n) : m_kind(Kind::Number), m_number(n) { }
    Json(const char* s) : m_kind(s ? Kind::String : Kind::Null), m_string(s ? s : "") { }
    Json(std::string s) : m_kind(Kind::String), m_string(std::move(s)) { }

    static Json array() { Json j; j.m_kind = Kind::Array; return j; }
    static Json object() { Json j; j.m_kind = Kind::Object; return j; }

    // Parses text; on malformed input returns false and says where in error.
    static bool parse(const std::string& text, Json& out, std::string& error);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::Null; }
    bool isObject() const { return m_kind == Kind::Object; }
    bool isArray() const { return m_kind == Kind::Array; }
    bool isString() const { return m_kind == Kind::String; }
    bool isNumber() const { return m_kind == Kind::Number; }
    bool isBool() const { return m_kind == Kind::Bool; }

    bool asBool(bool fallback = false) const { return m_kind == Kind::Bool ? m_bool : fallback; }
    double asNumber(double fallback = 0) const { return m_kind == Kind::Number ? m_number : fallback; }
    int64_t asInt(int64_t fallback = 0) const { return m_kind == Kind::Number ? static_cast<int64_t>(m_number) : fallback; }
    const std::string& asString() const { return m_string; }

    // Object access; members keep their insertion order.
    bool has(const std::string& key) const;
    const Json& operator[](const std::string& key) const;
    Json& set(const std::string& key, Json value);
    void erase(const std::string& key);
    const std::vector<std::pair<std::string, Json>>& members() const { return m_members; }

    // Array access.
    size_t size() const { return m_kind == Kind::Array ? m_items.size() : m_members.size(); }
    const Json& at(size_t i) const { return m_items.at(i); }
    Json& push(Json value) { m_items.push_back(std::move(value)); return m_items.back(); }
    const std::vector<Json>& items() const { return m_items; }
    std::vector<Json>& items() { return m_items; }

    // One line, no blanks: the form of a transcript line.
    std::string dump() const;
    // Indented by two blanks a level: the form of machine.json.
    std::string pretty() const;

private:
    void write(std::string& out, int indent, int depth) const;

    Kind m_kind { Kind::Null };
    bool m_bool { false };
    double m_number { 0 };
    std::string m_string;
    std::vector<Json> m_items;
    std::vector<std::pair<std::string, Json>> m_members;
};

// Escapes a UTF-8 string for JSON, quotes included.
std::string jsonQuote(const std::string& s);

}
