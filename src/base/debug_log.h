#pragma once
// The debug log "ErrorChk.txt" in the working directory. Every write opens, appends and
// closes the file on its own, so the log is complete even if the process dies.
// Entries start with their newline, so the file never ends with one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Truncates the log and writes its banner.
void LogOpen();
// Appends "\n" and the text.
void LogLine(const char* text);
// Appends the number formatted with "\n%d".
void LogInt(int32_t value);

// The last entries written since the process started (at most kLogTailEntries, oldest first),
// kept in memory for the web console; any thread.
inline constexpr std::size_t kLogTailEntries = 50;
std::vector<std::string> LogTail();

// Heap validation results, with the values of the Windows runtime's _heapchk.
enum HeapStatus : int32_t {
    kHeapEmpty = -1,
    kHeapOk = -2,
    kHeapBadBegin = -3,
    kHeapBadNode = -4,
};

// Asks the platform to validate the heap and logs an alert for a damaged one.
void HeapCheck();

// The platform's heap validation. glibc has no whole-heap walk that is safe to call every
// tick, so the default reports kHeapOk; tests install a fake to drive the alerts.
using HeapStatusHook = HeapStatus (*)();
HeapStatusHook SetHeapStatusHook(HeapStatusHook hook);  // returns the previous hook
