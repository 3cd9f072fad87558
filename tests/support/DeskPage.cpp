#include "DeskPage.h"

namespace test {

namespace {

ntsim::Json control(int id, const char* className, const char* text, std::vector<int> rect, unsigned style)
{
    ntsim::Json c = ntsim::Json::object();
    c["id"] = id;
    c["class"] = className;
    c["text"] = text;
    c["enabled"] = true;
    c["visible"] = true;
    c["rect"] = rect;
    c["style"] = style;
    return c;
}

ntsim::Json button(bool shown, bool enabled)
{
    ntsim::Json b = ntsim::Json::object();
    b["shown"] = shown;
    b["enabled"] = shown && enabled;
    return b;
}

}

ntsim::desk::Shown driverPage(const PageButtons& buttons)
{
    ntsim::desk::Shown shown;
    shown.event = "page";
    shown.title = "Modem Board Installation Wizard";
    shown.name = "page 102 \"Modem Board Installation Wizard\"";
    ntsim::Json fields = ntsim::Json::object();
    fields["template"] = 102;
    fields["title"] = shown.title;
    ntsim::Json controls = ntsim::Json::array();
    ntsim::Json picture = control(-1, "Static", "", { 0, 0, 105, 171 }, 0x5000000E);
    picture["bitmap"] = 110;
    controls.push_back(picture);
    controls.push_back(control(1000, "Static", "The wizard will install the modem driver shown below.", { 112, 6, 175, 32 }, 0x50020000));
    controls.push_back(control(1001, "Static", "", { 118, 50, 175, 80 }, 0x50820000));
    controls.push_back(control(1002, "Static", "To install the modem driver, click &Next.", { 118, 134, 175, 32 }, 0x50020000));
    controls.push_back(control(1003, "Button", "Check1", { 143, 12, 41, 10 }, 0x50010003));
    ntsim::Json list = control(9000, "ListBox", "", { 124, 56, 163, 68 }, 0x50A00001);
    list["items"] = { "Brimlow PCI Data/Fax Modem", "Brimlow PCI Data/Fax Modem (second line)" };
    controls.push_back(list);
    fields["controls"] = controls;
    ntsim::Json states = ntsim::Json::object();
    states["back"] = button(true, buttons.backEnabled);
    states["next"] = button(buttons.nextShown, true);
    states["finish"] = button(buttons.finishShown, true);
    states["cancel"] = button(true, buttons.cancelEnabled);
    fields["buttons"] = states;
    shown.fields = fields;
    if (buttons.backEnabled)
        shown.answers.push_back("back");
    if (buttons.nextShown)
        shown.answers.push_back("next");
    if (buttons.finishShown)
        shown.answers.push_back("finish");
    if (buttons.cancelEnabled)
        shown.answers.push_back("cancel");
    return shown;
}

}
