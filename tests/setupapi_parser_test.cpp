#include "setupapi/InfParser.h"

#include <gtest/gtest.h>

using namespace ntsim::inf;

namespace {

std::string resolved(const Document& doc, const std::string& raw)
{
    std::string out;
    EXPECT_TRUE(substitute(raw, doc, 0, nullptr, out));
    return out;
}

}

TEST(SetupapiParser, FieldsQuotesCommentsAndContinuation)
{
    Document doc;
    ParseResult r = parse("; heading comment\r\n"
                          "[Sect]\r\n"
                          "  key  =  one word , \"two, \"\"quoted\"\"\" ,, last ; comment, ignored\r\n"
                          "alone\r\n"
                          "ab\"cd\"ef = x\"y\"z\r\n"
                          "cont = a, \\\r\n"
                          "   b ; comment after the join\r\n"
                          "empty =\r\n"
                          "trailing = a,\r\n"
                          "[sect]\r\n"
                          "merged = 1\r\n",
        doc);
    ASSERT_EQ(r.error, ParseError::None);
    ASSERT_EQ(doc.sections.size(), 1u);
    const Section* s = doc.find("SECT");
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(s->lines.size(), 7u);

    const Line& first = s->lines[0];
    EXPECT_TRUE(first.hasKey);
    EXPECT_EQ(first.key, "key");
    EXPECT_EQ(first.values, (std::vector<std::string> { "one word", "two, \"quoted\"", "", "last" }));
    EXPECT_EQ(first.number, 3u);

    EXPECT_FALSE(s->lines[1].hasKey);
    EXPECT_EQ(s->lines[1].values, std::vector<std::string> { "alone" });

    EXPECT_EQ(s->lines[2].key, "abcdef");
    EXPECT_EQ(s->lines[2].values, std::vector<std::string> { "xyz" });

    EXPECT_EQ(s->lines[3].values, (std::vector<std::string> { "a", "b" }));
    EXPECT_EQ(s->lines[3].number, 6u);

    EXPECT_TRUE(s->lines[4].hasKey);
    EXPECT_EQ(s->lines[4].values, std::vector<std::string> { "" });
    EXPECT_EQ(s->lines[5].values, (std::vector<std::string> { "a", "" }));
    EXPECT_EQ(s->lines[6].key, "merged");
}

TEST(SetupapiParser, StringsSubstitutionAndPercent)
{
    Document doc;
    ASSERT_EQ(parse("[A]\n"
                    "%Name% = %Desc%, 100%%, %Unknown%, 50% off\n"
                    "[Strings]\n"
                    "name = \"Key Name\"\n"
                    "Desc = Modem, with comma\n",
                  doc)
                  .error,
        ParseError::None);
    const Line& line = doc.find("a")->lines[0];
    EXPECT_EQ(resolved(doc, line.key), "Key Name");
    EXPECT_EQ(resolved(doc, line.values[0]), "Modem, with comma");
    EXPECT_EQ(resolved(doc, line.values[1]), "100%");
    EXPECT_EQ(resolved(doc, line.values[2]), "%Unknown%");
    EXPECT_EQ(resolved(doc, line.values[3]), "50% off");

    std::string out;
    Resolver dirids = [](std::string_view name) -> std::optional<std::string> {
        if (name == "12")
            return std::string("C:\\WINNT\\system32\\drivers");
        return std::nullopt;
    };
    EXPECT_TRUE(substitute("%12%\\m.sys", doc, 0, dirids, out));
    EXPECT_EQ(out, "C:\\WINNT\\system32\\drivers\\m.sys");
}

TEST(SetupapiParser, ErrorsAndLimits)
{
    Document doc;
    // Text before the first section is passed over.
    ParseResult r = parse("; fine\n\nstray line\n[S]\n", doc);
    EXPECT_EQ(r.error, ParseError::None);
    EXPECT_TRUE(doc.find("S")->lines.empty());

    r = parse("[S]\nx\n[Broken\n", doc);
    EXPECT_EQ(r.error, ParseError::BadSectionNameLine);
    EXPECT_EQ(r.errorLine, 3u);

    r = parse("[" + std::string(MaxSectionNameLength, 'n') + "]\n", doc);
    EXPECT_EQ(r.error, ParseError::None);
    r = parse("[S]\n[" + std::string(MaxSectionNameLength + 1, 'n') + "]\n", doc);
    EXPECT_EQ(r.error, ParseError::SectionNameTooLong);
    EXPECT_EQ(r.errorLine, 2u);

    r = parse("[S]\nk = " + std::string(MaxStringLength, 'v') + "\n", doc);
    EXPECT_EQ(r.error, ParseError::None);
    r = parse("[S]\nok\nk = " + std::string(MaxStringLength + 1, 'v') + "\n", doc);
    EXPECT_EQ(r.error, ParseError::GeneralSyntax);
    EXPECT_EQ(r.errorLine, 3u);

    // Substitution stops at the string limit instead of growing.
    std::string big(3000, 'b');
    ASSERT_EQ(parse("[S]\nx = %B%%B%\n[Strings]\nB = " + big + "\n", doc).error, ParseError::None);
    std::string out;
    EXPECT_FALSE(substitute(doc.find("S")->lines[0].values[0], doc, 0, nullptr, out));
}
