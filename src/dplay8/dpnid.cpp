#include "dplay8/dpnid.h"

namespace dplay8 {

uint32_t MakeDpnid(uint32_t index, uint32_t version, const Guid& instance) {
    return ((index & kDpnidIndexMask) | version << kDpnidIndexBits) ^ instance.data1;
}

uint32_t DpnidIndex(uint32_t dpnid, const Guid& instance) {
    return (dpnid ^ instance.data1) & kDpnidIndexMask;
}

uint32_t DpnidVersion(uint32_t dpnid, const Guid& instance) {
    return (dpnid ^ instance.data1) >> kDpnidIndexBits;
}

}  // namespace dplay8
