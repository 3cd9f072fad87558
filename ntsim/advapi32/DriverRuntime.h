// The machine's driver runtime: finds a service's image as NT's loader
// does, loads it and runs the behaviour the image names. The service
// controller keeps the run state; a driver keeps its own data in a Json
// object that lives in that state while the driver is loaded.
#pragma once
#include "DriverImage.h"
#include "machine/Json.h"

#include <windows.h>

#include <memory>
#include <string>

namespace ntsim {

// The full NT path of a service's image. A driver's ImagePath may be
// "\SystemRoot\System32\drivers\x.sys", "System32\drivers\x.sys" (below
// the system root), "%SystemRoot%\...", "\??\C:\..." or "C:\..."; with no
// ImagePath it is system32\drivers\<service>.sys. A service program's path
// may be quoted and followed by arguments. Empty when the path can name no
// file of the machine.
std::string serviceImagePath(const std::string& service, const std::string& imagePath, bool driver);

// ERROR_PATH_NOT_FOUND when a directory of the path is missing,
// ERROR_FILE_NOT_FOUND when the file is, ERROR_BAD_EXE_FORMAT when it is
// not an image.
uint32_t loadServiceImage(const std::string& ntPath, DriverImage& out);

class DriverBehaviour {
public:
    DriverBehaviour(std::string service, DriverImage image)
        : m_service(std::move(service))
        , m_image(std::move(image))
    {
    }
    virtual ~DriverBehaviour() = default;

    virtual DWORD controlsAccepted() const { return SERVICE_ACCEPT_STOP; }
    // DriverEntry: ERROR_SUCCESS, or the error the start fails with.
    virtual uint32_t start(Json&) { return ERROR_SUCCESS; }
    // The state a stop leaves: SERVICE_STOPPED or SERVICE_STOP_PENDING.
    virtual DWORD stop(Json&) { return SERVICE_STOPPED; }

protected:
    const std::string& service() const { return m_service; }
    const DriverImage& image() const { return m_image; }

private:
    std::string m_service;
    DriverImage m_image;
};

std::unique_ptr<DriverBehaviour> makeDriverBehaviour(const std::string& service, const DriverImage& image);

}
