#include "Commands.h"

namespace ntsim {

int commandFault(const Args&)
{
    return usageError("'fault' is not available yet");
}

}
