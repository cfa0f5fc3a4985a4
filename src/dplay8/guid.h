#pragma once
// A GUID in the Windows memory layout ([MS-DTYP] 2.3.4): a 32-bit, two 16-bit fields in
// little-endian order, then eight bytes as they are. That is the order on the wire.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "dplay8/byte_io.h"

namespace dplay8 {

struct Guid {
    uint32_t data1 = 0;
    uint16_t data2 = 0;
    uint16_t data3 = 0;
    std::array<uint8_t, 8> data4{};

    bool IsZero() const { return *this == Guid{}; }
    friend bool operator==(const Guid&, const Guid&) = default;
};

Guid ReadGuid(ByteReader& r);
void WriteGuid(ByteWriter& w, const Guid& g);
// "{C0A65D4F-9CE3-4F70-80DE-3AB4DF6F09B6}", upper case, with braces.
std::string ToString(const Guid& g);
// Parses the braced form (either case); nothing on any other text.
std::optional<Guid> ParseGuid(std::string_view text);

}  // namespace dplay8
