#include "Commands.h"

namespace ntsim {

int commandReg(const Args&)
{
    return usageError("'reg' is not available yet");
}

}
