#pragma once
// Little-endian reading and writing over byte buffers. Every byte from the network passes
// through ByteReader, which never reads past its span: a read that does not fit marks the
// reader failed and returns zero, so a decoder checks ok() once after a run of reads.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace dplay8 {

using Bytes = std::vector<uint8_t>;
using ByteSpan = std::span<const uint8_t>;

class ByteReader {
public:
    explicit ByteReader(ByteSpan data) : data_(data) {}

    uint8_t U8();
    uint16_t U16();
    uint32_t U32();
    uint64_t U64();
    // The next n bytes, or an empty span (and failure) when fewer remain.
    ByteSpan Take(size_t n);
    // Everything not read yet.
    ByteSpan Rest();
    void Skip(size_t n) { Take(n); }

    bool ok() const { return ok_; }
    size_t position() const { return pos_; }
    size_t remaining() const { return ok_ ? data_.size() - pos_ : 0; }

private:
    bool Need(size_t n);

    ByteSpan data_;
    size_t pos_ = 0;
    bool ok_ = true;
};

class ByteWriter {
public:
    explicit ByteWriter(Bytes& out) : out_(out) {}

    void U8(uint8_t v) { out_.push_back(v); }
    void U16(uint16_t v);
    void U32(uint32_t v);
    void U64(uint64_t v);
    void Append(ByteSpan bytes) { out_.insert(out_.end(), bytes.begin(), bytes.end()); }
    void Zeros(size_t n) { out_.insert(out_.end(), n, 0); }
    size_t size() const { return out_.size(); }
    // Overwrites a 32-bit field written earlier, for offsets known only later.
    void PatchU32(size_t at, uint32_t v);

private:
    Bytes& out_;
};

// A sub-range [offset, offset + size) of a buffer, checked against its length without
// overflow. An offset of zero means "absent" in every DirectPlay message and yields an empty
// span; a range that does not fit yields nothing.
bool SliceField(ByteSpan base, uint32_t offset, uint32_t size, ByteSpan& out);

inline uint32_t LoadU32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace dplay8
