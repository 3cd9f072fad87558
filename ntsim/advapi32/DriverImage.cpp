#include "DriverImage.h"

#include "machine/NtPath.h"

#include <windows.h>

#include <cctype>
#include <sstream>

namespace ntsim {

namespace {

constexpr const char* marker = "NTSIM DRIVER IMAGE";

std::string trim(const std::string& s)
{
    size_t begin = 0, end = s.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(s[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(s[end - 1])))
        --end;
    return s.substr(begin, end - begin);
}

std::string lower(std::string s)
{
    for (auto& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct NamedBehaviour {
    DriverBehaviourKind kind;
    const char* name;
};

constexpr NamedBehaviour behaviours[] = {
    { DriverBehaviourKind::SoftModem, "softmodem" },
    { DriverBehaviourKind::Plain, "plain" },
    { DriverBehaviourKind::RefuseStop, "refuse-stop" },
    { DriverBehaviourKind::StopPending, "stop-pending" },
    { DriverBehaviourKind::Pauses, "pauses" },
    { DriverBehaviourKind::FailStart, "fail-start" },
};

}

const char* behaviourName(DriverBehaviourKind kind)
{
    for (auto& b : behaviours)
        if (b.kind == kind)
            return b.name;
    return "plain";
}

std::optional<DriverBehaviourKind> behaviourFromName(const std::string& name)
{
    for (auto& b : behaviours)
        if (equalsNoCase(name, b.name))
            return b.kind;
    return std::nullopt;
}

std::optional<std::string> DriverImage::field(const std::string& key) const
{
    auto it = fields.find(lower(key));
    if (it == fields.end())
        return std::nullopt;
    return it->second;
}

uint32_t DriverImage::parse(const std::string& text, DriverImage& out)
{
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line))
        return ERROR_BAD_EXE_FORMAT;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line != marker)
        return ERROR_BAD_EXE_FORMAT;
    DriverImage image;
    while (std::getline(in, line)) {
        line = trim(line);
        if (line.empty())
            continue;
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            return ERROR_BAD_EXE_FORMAT;
        image.fields[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
    }
    auto name = image.field("Behaviour");
    auto kind = name ? behaviourFromName(*name) : std::nullopt;
    if (!kind)
        return ERROR_BAD_EXE_FORMAT;
    image.behaviour = *kind;
    out = std::move(image);
    return ERROR_SUCCESS;
}

Json DriverImage::toJson() const
{
    Json j = Json::object();
    j["behaviour"] = behaviourName(behaviour);
    Json f = Json::object();
    for (auto& [key, value] : fields)
        f[key] = value;
    j["fields"] = f;
    return j;
}

DriverImage DriverImage::fromJson(const Json& j)
{
    DriverImage image;
    image.behaviour = behaviourFromName(stringMember(j, "behaviour")).value_or(DriverBehaviourKind::Plain);
    const Json& fields = member(j, "fields");
    if (fields.is_object())
        for (auto& [key, value] : fields.items())
            if (value.is_string())
                image.fields[key] = value.get<std::string>();
    return image;
}

}
