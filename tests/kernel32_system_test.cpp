// The processor and memory.
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <intrin.h>

#include <cstring>

namespace {

// What a setup program does to learn whether the processor has MMX.
bool idFlagToggles()
{
    unsigned before = __readeflags();
    __writeeflags(before ^ 0x200000);
    unsigned after = __readeflags();
    __writeeflags(before);
    return before != after;
}

}

TEST(Kernel32System, CpuidFollowsTheMachine)
{
    {
        test::TestMachine m;
        m.attach();
        EXPECT_TRUE(idFlagToggles());
        int info[4];
        __cpuid(info, 0);
        char vendor[13] = {};
        std::memcpy(vendor, &info[1], 4);
        std::memcpy(vendor + 4, &info[3], 4);
        std::memcpy(vendor + 8, &info[2], 4);
        EXPECT_STREQ(vendor, "GenuineIntel");
        EXPECT_GE(info[0], 1);
        __cpuid(info, 1);
        EXPECT_EQ((info[0] >> 8) & 0xF, 5); // a Pentium
        EXPECT_TRUE(info[3] & (1 << 23));   // MMX
        EXPECT_TRUE(info[3] & 1);           // FPU
    }
    {
        test::TestMachine m;
        m.set("cpu.mmx=false");
        m.attach();
        int info[4];
        __cpuid(info, 1);
        EXPECT_FALSE(info[3] & (1 << 23));
        EXPECT_TRUE(info[3] & 1);
    }
    {
        test::TestMachine m;
        m.set("cpu.cpuid=false");
        m.attach();
        EXPECT_FALSE(idFlagToggles());
    }
}

TEST(Kernel32System, GlobalAndLocalMemory)
{
    test::TestMachine m;
    m.attach();

    HGLOBAL fixed = GlobalAlloc(GPTR, 16);
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(GlobalLock(fixed), fixed);
    EXPECT_EQ(static_cast<char*>(fixed)[15], 0);
    EXPECT_EQ(GlobalFree(fixed), nullptr);

    HGLOBAL moveable = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 8);
    ASSERT_NE(moveable, nullptr);
    void* p = GlobalLock(moveable);
    ASSERT_NE(p, nullptr);
    EXPECT_NE(p, moveable);
    EXPECT_EQ(GlobalLock(moveable), p);
    EXPECT_TRUE(GlobalUnlock(moveable));  // still locked once
    EXPECT_FALSE(GlobalUnlock(moveable)); // now unlocked
    EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
    EXPECT_EQ(GlobalFree(moveable), nullptr);
    EXPECT_EQ(GlobalFree(moveable), moveable);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(NO_ERROR);
    EXPECT_EQ(GlobalLock(moveable), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SetLastError(NO_ERROR);
    EXPECT_FALSE(GlobalUnlock(moveable));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    HLOCAL local = LocalAlloc(LPTR, 4);
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(LocalFree(local), nullptr);
    EXPECT_EQ(LocalFree(local), local);
}
