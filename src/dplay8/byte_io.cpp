#include "dplay8/byte_io.h"

namespace dplay8 {

bool ByteReader::Need(size_t n) {
    if (!ok_ || data_.size() - pos_ < n) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t ByteReader::U8() {
    if (!Need(1))
        return 0;
    return data_[pos_++];
}

uint16_t ByteReader::U16() {
    if (!Need(2))
        return 0;
    uint16_t v = uint16_t(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return v;
}

uint32_t ByteReader::U32() {
    if (!Need(4))
        return 0;
    uint32_t v = LoadU32(data_.data() + pos_);
    pos_ += 4;
    return v;
}

uint64_t ByteReader::U64() {
    uint64_t lo = U32();
    uint64_t hi = U32();
    return lo | hi << 32;
}

ByteSpan ByteReader::Take(size_t n) {
    if (!Need(n))
        return {};
    ByteSpan s = data_.subspan(pos_, n);
    pos_ += n;
    return s;
}

ByteSpan ByteReader::Rest() {
    if (!ok_)
        return {};
    ByteSpan s = data_.subspan(pos_);
    pos_ = data_.size();
    return s;
}

void ByteWriter::U16(uint16_t v) {
    out_.push_back(uint8_t(v));
    out_.push_back(uint8_t(v >> 8));
}

void ByteWriter::U32(uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out_.push_back(uint8_t(v >> (8 * i)));
}

void ByteWriter::U64(uint64_t v) {
    U32(uint32_t(v));
    U32(uint32_t(v >> 32));
}

void ByteWriter::PatchU32(size_t at, uint32_t v) {
    if (at + 4 > out_.size())
        return;
    for (int i = 0; i < 4; ++i)
        out_[at + i] = uint8_t(v >> (8 * i));
}

bool SliceField(ByteSpan base, uint32_t offset, uint32_t size, ByteSpan& out) {
    out = {};
    if (offset == 0)
        return true;
    if (offset > base.size() || size > base.size() - offset)
        return false;
    out = base.subspan(offset, size);
    return true;
}

}  // namespace dplay8
