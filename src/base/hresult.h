#pragma once
// COM-style results: negative means failure. The values are the well-known Windows ones, so
// a number in the debug log can be looked up anywhere.

#include <cstdint>

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);

constexpr bool Succeeded(HRESULT result) {
    return result >= 0;
}
constexpr bool Failed(HRESULT result) {
    return result < 0;
}
