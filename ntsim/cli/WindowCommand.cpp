#include "Commands.h"

namespace ntsim {

int commandWindow(const Args&)
{
    return usageError("'window' is not available yet");
}

}
