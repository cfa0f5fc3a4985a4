#include "dplay8/coalesce.h"

#include "dplay8/frames.h"

namespace dplay8 {

namespace {

constexpr uint8_t kPartFlags =
    kCommandReliable | kCommandSequential | kCommandUser1 | kCommandUser2;

size_t HeaderBlock(size_t count) {
    return PadTo4(count * 2);
}

}  // namespace

size_t CoalescedSize(size_t count, size_t total_payload_with_padding) {
    return HeaderBlock(count) + total_payload_with_padding;
}

bool EncodeCoalesced(const std::vector<CoalescedPart>& parts, Bytes& out) {
    if (parts.empty() || parts.size() > kMaxCoalesced)
        return false;
    for (const auto& p : parts) {
        if (p.data.size() > kMaxCoalescedPartSize)
            return false;
    }
    ByteWriter w(out);
    for (size_t i = 0; i < parts.size(); ++i) {
        size_t size = parts[i].data.size();
        uint8_t command =
            uint8_t((parts[i].command & kPartFlags) | ((size >> 5) & kCoalesceSizeBits));
        if (i + 1 == parts.size())
            command |= kCoalesceEnd;
        w.U8(uint8_t(size));
        w.U8(command);
    }
    if (parts.size() % 2)
        w.U16(0);
    for (size_t i = 0; i < parts.size(); ++i) {
        w.Append(parts[i].data);
        if (i + 1 < parts.size())
            w.Zeros(PadTo4(parts[i].data.size()) - parts[i].data.size());
    }
    return true;
}

bool DecodeCoalesced(ByteSpan payload, std::vector<CoalescedPart>& parts) {
    parts.clear();
    ByteReader r(payload);
    size_t sizes[kMaxCoalesced];
    bool ended = false;
    while (!ended) {
        if (parts.size() == kMaxCoalesced)
            return false;
        uint8_t size_low = r.U8();
        uint8_t command = r.U8();
        if (!r.ok())
            return false;
        sizes[parts.size()] = size_t(size_low) | size_t(command & kCoalesceSizeBits) << 5;
        parts.push_back(CoalescedPart{uint8_t(command & kPartFlags), {}});
        ended = (command & kCoalesceEnd) != 0;
    }
    if (parts.size() % 2)
        r.Skip(2);
    for (size_t i = 0; i < parts.size(); ++i) {
        parts[i].data = r.Take(sizes[i]);
        if (i + 1 < parts.size())
            r.Skip(PadTo4(sizes[i]) - sizes[i]);
        if (!r.ok()) {
            parts.clear();
            return false;
        }
    }
    return true;
}

}  // namespace dplay8
