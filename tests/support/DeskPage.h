// A wizard page as the property sheet hands it to the desk: the driver
// page of the install wizard, with its picture, texts, check box and list.
#pragma once
#include "desk/Desk.h"

namespace test {

struct PageButtons {
    bool backEnabled { false };
    bool nextShown { true };
    bool finishShown { false };
    bool cancelEnabled { true };
};

ntsim::desk::Shown driverPage(const PageButtons& buttons = {});

}
