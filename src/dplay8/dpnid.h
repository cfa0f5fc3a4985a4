#pragma once
// Player ids ([MC-DPL8CS] 2.2.7): the name table index in the low 20 bits, the name table
// version at creation above it, the whole XORed with the first 32 bits of the session's
// instance GUID. Zero is never a valid id.

#include <cstdint>

#include "dplay8/guid.h"

namespace dplay8 {

inline constexpr uint32_t kDpnidIndexBits = 20;
inline constexpr uint32_t kDpnidIndexMask = (1u << kDpnidIndexBits) - 1;

uint32_t MakeDpnid(uint32_t index, uint32_t version, const Guid& instance);
uint32_t DpnidIndex(uint32_t dpnid, const Guid& instance);
uint32_t DpnidVersion(uint32_t dpnid, const Guid& instance);

}  // namespace dplay8
