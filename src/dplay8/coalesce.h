#pragma once
// Coalesced payloads ([MC-DPL8R] 2.2.3): up to 32 small messages in one DFRAME, each with a
// 2-byte header (size low byte, then flags carrying the size's top three bits), the header
// array padded to 32 bits, and every payload but the last padded to 32 bits.

#include <cstdint>
#include <vector>

#include "dplay8/byte_io.h"

namespace dplay8 {

inline constexpr size_t kMaxCoalesced = 32;
inline constexpr size_t kMaxCoalescedPartSize = 2047;  // an 11-bit size

// Sub-header bCommand bits.
inline constexpr uint8_t kCoalesceEnd = 0x01;
inline constexpr uint8_t kCoalesceSizeBits = 0x38;

struct CoalescedPart {
    // The part's own bCommand bits: kCommandReliable, kCommandSequential, kCommandUser1/2.
    uint8_t command = 0;
    ByteSpan data;
};

// Appends the coalesced form of 1 to 32 parts; false (and nothing written) when the parts
// cannot be coalesced.
bool EncodeCoalesced(const std::vector<CoalescedPart>& parts, Bytes& out);
// The size on the wire of `count` parts of these sizes (last payload unpadded).
size_t CoalescedSize(size_t count, size_t total_payload_with_padding);
// Splits a coalesced payload; false when the headers or sizes are inconsistent.
bool DecodeCoalesced(ByteSpan payload, std::vector<CoalescedPart>& parts);

inline size_t PadTo4(size_t n) {
    return (n + 3) & ~size_t(3);
}

}  // namespace dplay8
