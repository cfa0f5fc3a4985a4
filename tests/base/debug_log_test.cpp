#include "base/debug_log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace {

class DebugLogTest : public ::testing::Test {
protected:
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};

    std::string Log() const { return dir.Read("ErrorChk.txt"); }
};

TEST_F(DebugLogTest, EntriesStartWithTheirNewlineAfterTheBanner) {
    LogOpen();
    LogLine("WinMain: Initialising Night/Day");
    LogLine("It Rained at:");
    LogInt(-42);
    LogLine(" ");
    EXPECT_EQ(Log(),
              "EmberRealms error checking file initialised...\n"
              "\nWinMain: Initialising Night/Day"
              "\nIt Rained at:"
              "\n-42"
              "\n ");
}

TEST_F(DebugLogTest, OpenTruncatesAnEarlierLog) {
    dir.Write("ErrorChk.txt", "old contents of a previous run");
    LogOpen();
    EXPECT_EQ(Log(), "EmberRealms error checking file initialised...\n");
}

TEST_F(DebugLogTest, DeletedLogIsRecreatedStartingWithAnEmptyLine) {
    LogOpen();
    std::filesystem::remove(dir.path() / "ErrorChk.txt");
    LogLine("after");
    EXPECT_EQ(Log(), "\nafter");
}

TEST_F(DebugLogTest, UnwritableLogLosesTheEntryWithoutFailing) {
    std::filesystem::create_directory(dir.path() / "ErrorChk.txt");  // a directory, not a file
    LogOpen();
    LogLine("lost");
    LogInt(7);
    SUCCEED();
}

HeapStatus fakeHeapStatus = kHeapOk;
HeapStatus FakeHeap() { return fakeHeapStatus; }

TEST_F(DebugLogTest, HeapCheckLogsTheAlertOfEachDamagedState) {
    const HeapStatusHook previous = SetHeapStatusHook(&FakeHeap);
    LogOpen();
    const struct {
        HeapStatus status;
        const char* expected;
    } cases[] = {
        {kHeapOk, ""},
        {kHeapBadNode, "\nAlert : Bad Node in Heap!"},
        {kHeapBadBegin, "\nAlert : Bad Start of Heap!"},
        {kHeapEmpty, "\nAlert : Heap is Empty!"},
        {static_cast<HeapStatus>(-5), ""},  // _HEAPEND and anything else log nothing
    };
    for (const auto& c : cases) {
        LogOpen();
        fakeHeapStatus = c.status;
        HeapCheck();
        HeapCheck();  // a heap that stays damaged is reported on every check
        const std::string banner = "EmberRealms error checking file initialised...\n";
        EXPECT_EQ(Log(), banner + c.expected + c.expected) << "status " << c.status;
    }
    SetHeapStatusHook(previous);
}

TEST_F(DebugLogTest, PlatformHeapCheckReportsNothingOnAHealthyHeap) {
    LogOpen();
    HeapCheck();
    EXPECT_EQ(Log(), "EmberRealms error checking file initialised...\n");
}

}  // namespace
