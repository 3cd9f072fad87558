// How fast the simulator's hot paths are: parsing INF text, registry calls
// that go through the shared store (open+query+close, a set, enumerating a
// thousand subkeys), and opening an INF through setupapi.
#include "setupapi/InfParser.h"
#include "support/TestMachine.h"

#include <benchmark/benchmark.h>
#include <setupapi.h>
#include <windows.h>

#include <string>

namespace {

std::string LargeInf(int sections, int linesPerSection)
{
    std::string text = "[Version]\r\nSignature=\"$Windows NT$\"\r\n";
    for (int s = 0; s < sections; ++s) {
        text += "[Section" + std::to_string(s) + "]\r\n";
        for (int l = 0; l < linesPerSection; ++l)
            text += "Key" + std::to_string(l) + " = \"quoted, text\", %Name%, 0x" + std::to_string(l) + " ; comment\r\n";
    }
    text += "[Strings]\r\nName = \"A name\"\r\n";
    return text;
}

void InfParse(benchmark::State& state)
{
    std::string text = LargeInf(static_cast<int>(state.range(0)), 100);
    for (auto _ : state) {
        ntsim::inf::Document document;
        auto result = ntsim::inf::parse(text, document);
        benchmark::DoNotOptimize(result);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(InfParse)->Arg(10)->Arg(100)->Arg(1000);

// One machine for the registry figures; the store is shared on disk.
test::TestMachine& Machine()
{
    static test::TestMachine machine;
    static bool attached = (machine.attach(), true);
    (void)attached;
    return machine;
}

void RegistrySetValue(benchmark::State& state)
{
    Machine();
    HKEY hKey;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Bench", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &hKey, nullptr);
    DWORD n = 0;
    for (auto _ : state) {
        ++n;
        RegSetValueExA(hKey, "Counter", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&n), sizeof n);
    }
    RegCloseKey(hKey);
}
BENCHMARK(RegistrySetValue);

void RegistryOpenQueryClose(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        HKEY hKey;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0", 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            char data[256];
            DWORD size = sizeof data;
            RegQueryValueExA(hKey, "AttachedComponents", nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
            RegCloseKey(hKey);
        }
    }
}
BENCHMARK(RegistryOpenQueryClose);

void RegistryEnumerate1000Subkeys(benchmark::State& state)
{
    Machine();
    HKEY parent;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\BenchEnum", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &parent, nullptr);
    for (int i = 0; i < 1000; ++i) {
        HKEY sub;
        std::string name = "Key" + std::to_string(i);
        RegCreateKeyExA(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub, nullptr);
        RegCloseKey(sub);
    }
    for (auto _ : state) {
        char name[64];
        DWORD count = 0;
        for (DWORD i = 0; RegEnumKeyA(parent, i, name, sizeof name) == ERROR_SUCCESS; ++i)
            ++count;
        benchmark::DoNotOptimize(count);
    }
    RegCloseKey(parent);
}
BENCHMARK(RegistryEnumerate1000Subkeys);

void SetupOpenInf(benchmark::State& state)
{
    Machine();
    for (auto _ : state) {
        UINT line = 0;
        HINF hInf = SetupOpenInfFileA("C:\\MODEM\\DRV_MEQ.INF", nullptr, INF_STYLE_WIN4, &line);
        SetupCloseInfFile(hInf);
    }
}
BENCHMARK(SetupOpenInf);

}

BENCHMARK_MAIN();
