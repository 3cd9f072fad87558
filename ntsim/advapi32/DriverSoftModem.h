// The soft modem's driver: binds the machine's PCI soft modem to a serial
// device name and a COM port.
#pragma once
#include "DriverRuntime.h"

namespace ntsim {

class SoftModemDriver final : public DriverBehaviour {
public:
    using DriverBehaviour::DriverBehaviour;

    uint32_t start(Json& data) override;
    DWORD stop(Json& data) override;
};

// The serial-port map of the hardware tree.
inline constexpr const char* serialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

}
