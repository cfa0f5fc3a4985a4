#pragma once
// UTF-16LE strings as DirectPlay carries names, passwords and session names: an array of
// 16-bit units ending in a zero unit, counted in bytes including the terminator.

#include <string>

#include "dplay8/byte_io.h"

namespace dplay8 {

// The bytes of `text` followed by the zero terminator.
Bytes EncodeWide(const std::u16string& text);
// The units up to the first zero (or the whole field when it has none). An odd byte count
// is malformed and yields nothing.
bool DecodeWide(ByteSpan field, std::u16string& out);

}  // namespace dplay8
