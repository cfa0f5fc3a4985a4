#include "base/debug_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

const std::string kBanner = "EmberRealms error checking file initialised...\n";

class DebugLogTest : public ::testing::Test {
protected:
    std::string Log() const { return dir.Read("ErrorChk.txt"); }

    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
};

TEST_F(DebugLogTest, OpenTruncatesAndEntriesStartWithTheirNewline) {
    dir.Write("ErrorChk.txt", "old contents of a previous run");
    LogOpen();
    LogLine("WinMain: Initialising Night/Day");
    LogInt(-42);
    LogLine(" ");
    EXPECT_EQ(Log(), kBanner + "\nWinMain: Initialising Night/Day\n-42\n ");
    std::filesystem::remove(dir.path() / "ErrorChk.txt");
    LogLine("after");  // a deleted log is made afresh
    EXPECT_EQ(Log(), "\nafter");
    std::filesystem::remove(dir.path() / "ErrorChk.txt");
    std::filesystem::create_directory(dir.path() / "ErrorChk.txt");
    LogOpen();  // a log that cannot be written loses its entries without failing
    LogLine("lost");
    LogInt(7);
}

HeapStatus fakeHeapStatus = kHeapOk;

TEST_F(DebugLogTest, HeapCheckLogsTheAlertOfEachDamagedStateOnEveryCheck) {
    LogOpen();
    HeapCheck();
    EXPECT_EQ(Log(), kBanner) << "the platform's heap is reported healthy";
    const HeapStatusHook fake = [] { return fakeHeapStatus; };
    const HeapStatusHook previous = SetHeapStatusHook(fake);
    // clang-format off
    const std::pair<HeapStatus, std::string> cases[] = {{kHeapOk, ""}, {kHeapBadNode, "\nAlert : Bad Node in Heap!"},
        {kHeapBadBegin, "\nAlert : Bad Start of Heap!"}, {kHeapEmpty, "\nAlert : Heap is Empty!"},
        {static_cast<HeapStatus>(-5), ""}};  // _HEAPEND and anything else log nothing
    // clang-format on
    for (const auto& [status, alert] : cases) {
        LogOpen();
        fakeHeapStatus = status;
        HeapCheck();
        HeapCheck();
        EXPECT_EQ(Log(), kBanner + alert + alert) << "status " << status;
    }
    EXPECT_EQ(SetHeapStatusHook(nullptr), fake);
    EXPECT_EQ(SetHeapStatusHook(previous), previous) << "nullptr puts the platform's check back";
}

}  // namespace
