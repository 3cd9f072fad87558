// What kernel32 does for a program of the machine as it starts and ends:
// the process entry calls attachProcess once the process knows its machine.
#pragma once

namespace ntsim::kernel32 {

// Arranges that whatever the process still holds open is let go when it
// ends, as NT closes a process's handles and unmaps its image.
void attachProcess();

}
