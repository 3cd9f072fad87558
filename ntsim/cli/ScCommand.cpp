#include "Commands.h"

namespace ntsim {

int commandSc(const Args&)
{
    return usageError("'sc' is not available yet");
}

}
