// libFuzzer target of the INF parser: any bytes parse without a crash, a
// file appended to itself keeps every section findable, and every field of
// the result resolves within the string limit.
#include "setupapi/InfParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    ntsim::inf::Document document;
    ntsim::inf::ParseResult result = ntsim::inf::parse(text, document);
    if (result.error != ntsim::inf::ParseError::None && result.errorLine == 0)
        std::abort();
    ntsim::inf::Document appended;
    ntsim::inf::parse(text, appended);
    document.append(std::move(appended));
    auto resolver = [](std::string_view name) -> std::optional<std::string> {
        if (name == "11")
            return std::string("C:\\WINNT\\system32");
        return std::nullopt;
    };
    std::string out;
    for (auto& section : document.sections) {
        if (section.name.size() > ntsim::inf::MaxSectionNameLength || !document.find(section.name))
            std::abort();
        for (auto& line : section.lines) {
            if (line.part >= document.parts() || line.key.size() > ntsim::inf::MaxStringLength)
                std::abort();
            if (ntsim::inf::substitute(line.key, document, line.part, resolver, out) && out.size() > ntsim::inf::MaxStringLength)
                std::abort();
            for (auto& value : line.values) {
                if (value.size() > ntsim::inf::MaxStringLength)
                    std::abort();
                if (ntsim::inf::substitute(value, document, line.part, resolver, out) && out.size() > ntsim::inf::MaxStringLength)
                    std::abort();
            }
        }
    }
    return 0;
}
