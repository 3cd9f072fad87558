#include "DriverHarness.h"

#include <gtest/gtest.h>

namespace test {

DriverHarness::DriverHarness(std::initializer_list<Fault> faults)
{
    for (const Fault& fault : faults) {
        RunResult set = m_machine.tool({ "fault", m_machine.dir(), fault.api, fault.error, "--nth", std::to_string(fault.nth) });
        EXPECT_EQ(set.exitCode, 0) << set.out;
    }
    m_machine.attach("C:\\MODEM\\SETUP.EXE", "C:\\MODEM\\SETUP.EXE -l");
    theLog.Enable();
    theLog.SetFileName("SETUP.TXT");
}

std::vector<std::string> DriverHarness::newLogLines()
{
    std::string text;
    if (m_machine.exists("C:\\MODEM\\SETUP.TXT"))
        text = m_machine.read("C:\\MODEM\\SETUP.TXT");
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a log line without CR LF: " << text.substr(pos);
            break;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    std::vector<std::string> fresh(lines.begin() + static_cast<long>(std::min(m_seen, lines.size())), lines.end());
    m_seen = lines.size();
    return fresh;
}

}
