#pragma once
// Helpers for the variable-length tails of DirectPlay messages, whose fixed headers hold
// (offset, size) pairs counted from a base position. Writers lay fields out one after the
// other; readers check every pair against the buffer before slicing.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "dplay8/byte_io.h"

namespace dplay8 {

// Lays variable fields out after a fixed part that ends at `start` (counted from the base).
class VarFieldLayout {
public:
    explicit VarFieldLayout(uint32_t start) : next_(start) {}
    // Reserves room for `bytes` and returns its (offset, size); (0, 0) when it is empty.
    std::pair<uint32_t, uint32_t> Add(ByteSpan bytes);
    // Appends every added field in order.
    void AppendTo(ByteWriter& w) const;

private:
    uint32_t next_;
    std::vector<ByteSpan> fields_;
};

// Writes a field's (offset, size) pair into a fixed header.
void WritePair(ByteWriter& w, std::pair<uint32_t, uint32_t> pair);

// Reads a field given its (offset, size) pair; false when it lies outside `base`.
bool ReadBytesField(ByteSpan base, uint32_t offset, uint32_t size, Bytes& out);
bool ReadWideField(ByteSpan base, uint32_t offset, uint32_t size, std::u16string& out);
// An 8-bit zero-terminated string (a DirectPlay URL); the terminator is dropped.
bool ReadNarrowField(ByteSpan base, uint32_t offset, uint32_t size, std::string& out);
// The bytes of an 8-bit string with its terminator, or nothing for an empty string.
Bytes NarrowWithTerminator(const std::string& text);
// The bytes of a UTF-16 string with its terminator, or nothing for an empty string.
Bytes WideOrEmpty(const std::u16string& text);

}  // namespace dplay8
