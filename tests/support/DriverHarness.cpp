#include "DriverHarness.h"
#include "SetupRun.h"

#include "machine/SecurityDescriptor.h"
#include "scm_helpers.h"

#include <gtest/gtest.h>

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count; its header does not come with GCC.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace test {

DriverHarness::DriverHarness(std::initializer_list<Fault> faults)
{
    for (const Fault& fault : faults) {
        RunResult set = m_machine.tool({ "fault", m_machine.dir(), fault.api, fault.error, "--nth", std::to_string(fault.nth) });
        EXPECT_EQ(set.exitCode, 0) << set.out;
    }
    writeInf(setupInf());
    m_machine.attach("C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\SETUP.EXE -l");
    theLog.Enable();
    theLog.SetFileName("SETUP.TXT");
}

std::string DriverHarness::setupInf()
{
    return "[Version]\r\n"
           "Signature = \"$Windows NT$\"\r\n"
           "Class = Modem\r\n"
           "\r\n"
           "[SourceDisksNames]\r\n"
           "1 = \"Driver Disk\",,\r\n"
           "\r\n"
           "[SourceDisksFiles]\r\n"
           "QZVMDM.SYS = 1\r\n"
           "\r\n"
           "[DestinationDirs]\r\n"
           "DefaultDestDir = 12\r\n"
           "\r\n"
           "[Models]\r\n"
           "%ModemName% = TAVRELIN_DATAFAX_QZV, PCI\\VEN_1A7E\\DEV_5C21\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV]\r\n"
           "CopyFiles = TAVRELIN_DATAFAX_QZV.CopyFiles\r\n"
           "AddReg = TAVRELIN_DATAFAX_QZV.AddReg\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV.CopyFiles]\r\n"
           "QZVMDM.SYS\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV.AddReg]\r\n"
           "HKR, Parameters, BufferSize, 0x00010001, 4096\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV.Services]\r\n"
           "AddService = Qzvmdm, 0x00000002, Qzvmdm.Service\r\n"
           "\r\n"
           "[Qzvmdm.Service]\r\n"
           "ServiceType = 1\r\n"
           "StartType = 3\r\n"
           "ErrorControl = 1\r\n"
           "ServiceBinary = %12%\\QZVMDM.SYS\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV.Uninstall]\r\n"
           "DelFiles = TAVRELIN_DATAFAX_QZV.CopyFiles\r\n"
           "\r\n"
           "[TAVRELIN_DATAFAX_QZV.Uninstall.Services]\r\n"
           "DelService = Qzvmdm, 0x00000200\r\n"
           "\r\n"
           "[Strings]\r\n"
           "ModemName = \"Brimlow PCI Data/Fax Modem\"\r\n";
}

std::string DriverHarness::setupInfWith(const std::string& text, const std::string& replacement)
{
    std::string inf = setupInf();
    size_t at = inf.find(text);
    EXPECT_NE(at, std::string::npos) << "the harness's INF has no " << text;
    if (at != std::string::npos)
        inf.replace(at, text.size(), replacement);
    return inf;
}

Lines DriverHarness::newLogLines()
{
    Lines lines = logLines(m_machine);
    Lines fresh(lines.begin() + static_cast<long>(std::min(m_seen, lines.size())), lines.end());
    m_seen = lines.size();
    return fresh;
}

CDriver harnessDriver(const char* pnpEnumId)
{
    return CDriver("Brimlow PCI Data/Fax Modem", DriverHarness::infPath(), "TAVRELIN_DATAFAX_QZV", pnpEnumId);
}

DWORD harnessServiceState()
{
    scmtest::Sc manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    scmtest::Sc service(OpenServiceA(manager.get(), "Qzvmdm", SERVICE_QUERY_STATUS));
    return service ? scmtest::statusOf(service.get()).dwCurrentState : 0;
}

Lines join(std::initializer_list<Lines> parts)
{
    Lines all;
    for (auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Lines nameReadLines()
{
    return {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
        "GetDriverServiceName got Qzvmdm",
        "GetDriverServiceName exit with uRet 0",
    };
}

Lines nameKnownLines()
{
    return {
        "GetDriverServiceName got Qzvmdm",
        "GetDriverServiceName exit with uRet 0",
    };
}

Lines infoLines(const std::string& stateLine)
{
    return join({ nameKnownLines(), { "open_service exit with uRet 0", stateLine, "GetInfo exit with uRet 0" } });
}

Lines noServiceLines(const Lines& nameLines)
{
    return join({ nameLines, {
        "open_service 19 (ST_SCM_CANT_OPEN_SERVICE_DOES_NOT_EXIST)",
        "open_service exit with uRet 19",
        "GetInfo state 0 (DRV_S_NONE)",
        "GetInfo exit with uRet 0",
    } });
}

LONG setKeyDacl(const std::string& key, const std::string& sddl)
{
    auto sd = ntsim::security::SecurityDescriptor::fromSddl(sddl);
    if (!sd)
        return ERROR_INVALID_PARAMETER;
    auto bytes = sd->toSelfRelative(DACL_SECURITY_INFORMATION);
    HKEY hKey = nullptr;
    LONG status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, WRITE_DAC, &hKey);
    if (status != ERROR_SUCCESS)
        return status;
    status = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, bytes.data());
    RegCloseKey(hKey);
    return status;
}

size_t allocatedBytes()
{
    // The sanitizers keep their own heap, which mallinfo does not see.
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

}
