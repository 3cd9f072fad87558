// The image of a driver (or of a service program) on the simulated machine.
//
// A real driver is a PE file of machine code; the simulated machine runs
// none, so a driver image is a text file that names what the driver does:
//
//     NTSIM DRIVER IMAGE
//     Behaviour: softmodem
//     Error: 31
//     Description: anything else, kept for later use
//
// The first line is exactly "NTSIM DRIVER IMAGE" (a trailing CR is
// allowed). Every further non-empty line is "Key: value"; keys compare
// without regard to case and the value is trimmed. "Behaviour" is required
// and is one of:
//
//   softmodem     finds the machine's PCI soft modem (machine.json, kind
//                 "softmodem") on start, writes the PCI values to the
//                 service's Parameters\<service>0 key and maps
//                 \Device\<service>0 to the first free COMn in
//                 HARDWARE\DEVICEMAP\SERIALCOMM; stop removes the mapping.
//                 Without the device its DriverEntry returns
//                 STATUS_NO_SUCH_DEVICE, which the start reports as
//                 ERROR_FILE_NOT_FOUND (2), as NT maps that status.
//   plain         starts and stops.
//   refuse-stop   starts; accepts no stop (no unload routine).
//   stop-pending  starts; a stop leaves it SERVICE_STOP_PENDING for good.
//   pauses        starts; accepts stop, pause and continue.
//   fail-start    its start fails with ERROR_GEN_FAILURE, or with the
//                 decimal or 0x-hex code of an "Error" line.
//
// A file that does not begin with the marker line, or names no known
// behaviour, does not load: ERROR_BAD_EXE_FORMAT.
#pragma once
#include "machine/Json.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace ntsim {

enum class DriverBehaviourKind { SoftModem, Plain, RefuseStop, StopPending, Pauses, FailStart };

struct DriverImage {
    DriverBehaviourKind behaviour { DriverBehaviourKind::Plain };
    std::map<std::string, std::string> fields; // by lower-case key

    std::optional<std::string> field(const std::string& key) const;

    // Parses an image's text; ERROR_BAD_EXE_FORMAT when it is not one.
    static uint32_t parse(const std::string& text, DriverImage& out);

    // The image as the run state keeps it while the driver is loaded.
    Json toJson() const;
    static DriverImage fromJson(const Json& j);
};

const char* behaviourName(DriverBehaviourKind kind);
std::optional<DriverBehaviourKind> behaviourFromName(const std::string& name);

}
