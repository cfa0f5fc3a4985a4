#include "base/debug_log.h"

#include <atomic>
#include <cstdio>
#include <deque>
#include <mutex>

namespace {

constexpr const char* kLogFileName = "ErrorChk.txt";

HeapStatus PlatformHeapStatus() {
    return kHeapOk;
}

std::atomic<HeapStatusHook> heapStatusHook{&PlatformHeapStatus};

// A log that cannot be opened loses the entry; callers carry on regardless.
void WriteEntry(const char* mode, const char* text) {
    std::FILE* file = std::fopen(kLogFileName, mode);
    if (file == nullptr) {
        return;
    }
    std::fputs(text, file);
    std::fclose(file);
}

std::mutex tailLock;
std::deque<std::string> tail;

void Remember(std::string entry) {
    std::lock_guard lock(tailLock);
    tail.push_back(std::move(entry));
    if (tail.size() > kLogTailEntries) {
        tail.pop_front();
    }
}

}  // namespace

std::vector<std::string> LogTail() {
    std::lock_guard lock(tailLock);
    return {tail.begin(), tail.end()};
}

void LogOpen() {
    WriteEntry("w", "EmberRealms error checking file initialised...\n");
}

void LogLine(const char* text) {
    Remember(text != nullptr ? text : "");
    std::FILE* file = std::fopen(kLogFileName, "a+");
    if (file == nullptr) {
        return;
    }
    std::fputs("\n", file);
    std::fputs(text != nullptr ? text : "", file);
    std::fclose(file);
}

void LogInt(int32_t value) {
    char buffer[200] = {};
    std::snprintf(buffer, sizeof buffer, "\n%d", value);
    Remember(buffer + 1);
    WriteEntry("a+", buffer);
}

void HeapCheck() {
    switch (heapStatusHook.load()()) {
        case kHeapBadNode:
            LogLine("Alert : Bad Node in Heap!");
            break;
        case kHeapBadBegin:
            LogLine("Alert : Bad Start of Heap!");
            break;
        case kHeapEmpty:
            LogLine("Alert : Heap is Empty!");
            break;
        default:
            break;
    }
}

HeapStatusHook SetHeapStatusHook(HeapStatusHook hook) {
    return heapStatusHook.exchange(hook != nullptr ? hook : &PlatformHeapStatus);
}
