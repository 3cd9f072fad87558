// What the terminal desk draws, without a terminal; the script's lines; the
// order of a run's transcript.
#include "support/DeskPage.h"

#include "desk/Drawing.h"
#include "desk/Picture.h"
#include "desk/Run.h"
#include "desk/Script.h"

#include <gtest/gtest.h>

namespace {

using ntsim::desk::Drawing;
using ntsim::desk::Shown;

Shown messageBox(const std::string& caption, const std::string& text, unsigned style, std::vector<std::string> answers)
{
    Shown shown;
    shown.event = "messagebox";
    shown.fields = ntsim::Json::object();
    shown.fields["caption"] = caption;
    shown.fields["text"] = text;
    shown.fields["style"] = style;
    shown.answers = std::move(answers);
    return shown;
}

void expectFramed(const Drawing& d, size_t width)
{
    for (auto& line : d.lines) {
        EXPECT_EQ(ntsim::desk::columnsOf(line), width) << line;
        EXPECT_EQ(line.front(), line.front() == '+' ? '+' : '|') << line;
        EXPECT_TRUE(line.back() == '|' || line.back() == '+') << line;
    }
}

}

TEST(DeskDrawing, PageAtEightyColumns)
{
    Drawing d = ntsim::desk::draw(test::driverPage(), 80);
    EXPECT_EQ(ntsim::desk::drawingText(d),
        "+- Modem Board Installation Wizard --------------------------------------------+\n"
        "| +------------------------+                                                   |\n"
        "| |                        |  The wizard will install the modem driver         |\n"
        "| |                        |  shown below.                                     |\n"
        "| |                        |                                                   |\n"
        "| |                        |          [ ] Check1                               |\n"
        "| |                        |                                                   |\n"
        "| |                        |     +---------------------------------------+     |\n"
        "| |       bitmap 110       |     |Brimlow PCI Data/Fax Modem             |     |\n"
        "| |                        |     |Brimlow PCI Data/Fax Modem (second line|     |\n"
        "| |                        |     +---------------------------------------+     |\n"
        "| |                        |                                                   |\n"
        "| |                        |                                                   |\n"
        "| |                        |    To install the modem driver, click Next.       |\n"
        "| |                        |                                                   |\n"
        "| |                        |                                                   |\n"
        "| +------------------------+                                                   |\n"
        "|------------------------------------------------------------------------------|\n"
        "|                                            < Back    [ Next > ]  [ Cancel ]  |\n"
        "+------------------------------------------------------------------------------+\n");
    // A page fits an 80x24 terminal with the keys' line below it.
    EXPECT_LE(d.lines.size(), 23u);
    expectFramed(d, 80);
    // The buttons as the terminal highlights them: Back disabled, Next the default.
    ASSERT_EQ(d.buttons.size(), 3u);
    EXPECT_EQ(d.buttons[0].answer, "back");
    EXPECT_FALSE(d.buttons[0].enabled);
    EXPECT_EQ(d.buttons[0].letter, 'B');
    EXPECT_EQ(d.lines[d.buttons[0].row].substr(d.buttons[0].key, 1), "B");
    EXPECT_EQ(d.buttons[1].answer, "next");
    EXPECT_EQ(d.lines[d.buttons[1].row].substr(d.buttons[1].column, d.buttons[1].width), "[ Next > ]");
    EXPECT_EQ(d.lines[d.buttons[1].row].substr(d.buttons[1].key, 1), "N");
    EXPECT_EQ(d.defaultButton, 1u);
    EXPECT_EQ(d.buttons[2].letter, 'C');

    // Finish in Next's place, Cancel disabled, on a wider terminal.
    Drawing last = ntsim::desk::draw(test::driverPage({ true, false, true, false }), 120);
    expectFramed(last, 120);
    std::string row = last.lines[last.buttons[0].row];
    EXPECT_EQ(row.substr(row.size() - 40), "   [ < Back ]  [ Finish ]    Cancel    |");
    EXPECT_EQ(last.buttons[last.defaultButton].answer, "finish");
    // Too narrow a terminal still gets a whole drawing.
    expectFramed(ntsim::desk::draw(test::driverPage(), 20), ntsim::desk::narrowestDrawing);
}

TEST(DeskDrawing, MessageBoxesWrapToTheTerminal)
{
    Shown box = messageBox("Installation Error",
        "The modem driver could not be installed because the service control manager refused to start the "
        "service; the system may need to be restarted before the installation is tried again.\r\nSecond line.",
        0x131, { "ok", "cancel" });
    Drawing d = ntsim::desk::draw(box, 100);
    EXPECT_EQ(ntsim::desk::drawingText(d),
        "+- Installation Error -----------------------------------------------------------------------------+\n"
        "| /!\\ The modem driver could not be installed because the service control manager refused to start |\n"
        "|     the service; the system may need to be restarted before the installation is tried again.     |\n"
        "|     Second line.                                                                                 |\n"
        "|                                                                                                  |\n"
        "|                                        [ OK ]  [ Cancel ]                                        |\n"
        "+--------------------------------------------------------------------------------------------------+\n");
    expectFramed(d, 100);
    EXPECT_EQ(d.defaultButton, 1u); // MB_DEFBUTTON2

    // A short text makes a narrow box; wide characters take two columns.
    Drawing small = ntsim::desk::draw(messageBox("\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC", "OK?", 0x40, { "ok" }), 100);
    EXPECT_EQ(ntsim::desk::drawingText(small),
        "+- \xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC ---+\n"
        "| (i) OK?    |\n"
        "|            |\n"
        "|   [ OK ]   |\n"
        "+------------+\n");
    expectFramed(small, 14);
    std::vector<std::string> cut = ntsim::desk::wrapText("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\xE3\x81\xA7\xE3\x81\x99", 5);
    EXPECT_EQ(cut, (std::vector<std::string> { "\xE6\x97\xA5\xE6\x9C\xAC", "\xE8\xAA\x9E\xE3\x81\xA7", "\xE3\x81\x99" }));

    // The restart prompt as SetupPromptReboot shows it.
    Shown prompt;
    prompt.event = "prompt";
    prompt.fields = ntsim::Json::object();
    prompt.fields["kind"] = "reboot";
    prompt.fields["caption"] = "System Settings Change";
    prompt.fields["text"] = "You must restart your computer before the new settings will take effect.\n\n"
                              "Do you want to restart your computer now?";
    prompt.answers = { "yes", "no" };
    EXPECT_EQ(ntsim::desk::drawingText(ntsim::desk::draw(prompt, 80)),
        "+- System Settings Change -------------------------------------------------+\n"
        "| You must restart your computer before the new settings will take effect. |\n"
        "|                                                                          |\n"
        "| Do you want to restart your computer now?                                |\n"
        "|                                                                          |\n"
        "|                             [ Yes ]  [ No ]                              |\n"
        "+--------------------------------------------------------------------------+\n");
}

TEST(DeskScript, LinesAddressedToWindows)
{
    std::vector<ntsim::desk::ScriptLine> lines;
    std::string error;
    ASSERT_TRUE(ntsim::desk::parseScript("next\n"
                                         "  # the applet's page\n"
                                         "@\"Country Settings\" OK\n"
                                         "\n"
                                         "@Control Cancel\r\n"
                                         "@\"Say \"\"hi\"\"\"\tyes\n",
        lines, error))
        << error;
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].number, 1u);
    EXPECT_FALSE(lines[0].title);
    EXPECT_EQ(lines[0].answer, "next");
    EXPECT_EQ(lines[1].number, 3u);
    EXPECT_EQ(*lines[1].title, "Country Settings");
    EXPECT_EQ(lines[1].answer, "ok");
    EXPECT_EQ(*lines[2].title, "Control");
    EXPECT_EQ(lines[2].answer, "cancel");
    EXPECT_EQ(*lines[3].title, "Say \"hi\"");
    EXPECT_TRUE(ntsim::desk::sameTitle("country SETTINGS", "Country Settings"));
    // A list item keeps its words, lower-cased, blanks around it dropped.
    ASSERT_TRUE(ntsim::desk::parseScript("@\"Country Settings\" Select   United States \r\n", lines, error)) << error;
    EXPECT_EQ(lines.at(0).answer, "select united states");

    auto problem = [](const std::string& text) {
        std::vector<ntsim::desk::ScriptLine> ignored;
        std::string error;
        EXPECT_FALSE(ntsim::desk::parseScript(text, ignored, error)) << text;
        return error;
    };
    EXPECT_EQ(problem("ok\n@\"Country ok\n"), "script line 2: the window title has no closing quote");
    EXPECT_EQ(problem("yes no\n"), "script line 1: one answer a line, got 'yes no'");
    EXPECT_EQ(problem("@\"Country\"ok\n"), "script line 1: a blank must follow the window title");
    EXPECT_EQ(problem("@\"Country\"\n"), "script line 1: no answer after the window title");
    EXPECT_EQ(problem("ok\n\n@ ok\n"), "script line 3: @ must be followed by a window title, e.g. @\"Country Settings\" ok");
}

TEST(DeskScript, RunTranscriptIsOrderedByScriptLineThenProcess)
{
    // As processes of a run appended them: the applet (1.1) answered line 2
    // before the wizard (1) answered line 1; then an unanswered box of a
    // second applet that started after line 1.
    std::string keyed = "2 1.1 1\t{\"n\":\"applet\"}\n"
                        "1 1.2 1\t{\"n\":\"second applet, no answer\"}\n"
                        "1 1 1\t{\"n\":\"wizard\"}\n"
                        "1 1 2\t{\"n\":\"wizard's record\"}\n"
                        "3 1.10 1\t{\"n\":\"tenth\"}\n"
                        "3 1.9 1\t{\"n\":\"ninth\"}\n"
                        "not a line\n";
    EXPECT_EQ(ntsim::desk::orderedTranscript(keyed),
        (std::vector<std::string> { "{\"n\":\"wizard\"}", "{\"n\":\"wizard's record\"}",
            "{\"n\":\"second applet, no answer\"}", "{\"n\":\"applet\"}", "{\"n\":\"ninth\"}", "{\"n\":\"tenth\"}" }));
}

TEST(DeskPicture, DibsAreReadAndScaledIntoHalfBlocks)
{
    // A 4-bit picture as the resources hold it: 2x2, palette black, white,
    // red, blue; bottom row first (blue, red), top row (white, black).
    std::string dib(40, '\0');
    dib[0] = 40;
    dib[4] = 2;
    dib[8] = 2;
    dib[12] = 1;
    dib[14] = 4;
    dib[32] = 4; // colours used
    dib += std::string("\0\0\0\0" "\xFF\xFF\xFF\0" "\0\0\xFF\0" "\xFF\0\0\0", 16);
    dib += std::string("\x32\0\0\0", 4); // bottom: blue (3), red (2)
    dib += std::string("\x10\0\0\0", 4); // top: white (1), black (0)
    auto image = ntsim::desk::decodeDib(dib);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 2u);
    ASSERT_EQ(image->height, 2u);
    EXPECT_EQ(image->pixels[0].r, 255); // top left: white
    EXPECT_EQ(image->pixels[1].r, 0);   // top right: black
    EXPECT_EQ(image->pixels[2].b, 255); // bottom left: blue
    EXPECT_EQ(image->pixels[3].r, 255); // bottom right: red
    EXPECT_EQ(image->pixels[3].b, 0);

    // One cell a column: the top pixel over the bottom one, in the terminal's colours.
    auto cells = ntsim::desk::halfBlocks(*image, 2, 1, 16);
    ASSERT_EQ(cells.size(), 2u);
    EXPECT_EQ(cells[0].top, 15);   // white
    EXPECT_EQ(cells[0].bottom, 12); // blue
    EXPECT_EQ(cells[1].top, 0);    // black
    EXPECT_EQ(cells[1].bottom, 9); // red
    // One cell for the whole: the mean of each half.
    auto one = ntsim::desk::halfBlocks(*image, 1, 1, 256);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].top, ntsim::desk::nearestColour({ 127, 127, 127 }, 256));
    EXPECT_EQ(one[0].bottom, ntsim::desk::nearestColour({ 127, 0, 127 }, 256));

    EXPECT_FALSE(ntsim::desk::decodeDib(dib.substr(0, 50))) << "the bits cut short";
    std::string rle = dib;
    rle[16] = 2; // BI_RLE4
    EXPECT_FALSE(ntsim::desk::decodeDib(rle));
}
