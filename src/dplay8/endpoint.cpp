#include "dplay8/endpoint.h"

namespace dplay8 {

std::string AddressText(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
           std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

std::string EndpointUrl(const Endpoint& e) {
    // The provider is DirectPlay's IP service provider, {EBFE7BA0-628D-11D2-AE0F-006097B01411}.
    return "x-directplay:/provider=%7BEBFE7BA0-628D-11D2-AE0F-006097B01411%7D;hostname=" +
           AddressText(e.address) + ";port=" + std::to_string(e.port);
}

}  // namespace dplay8
