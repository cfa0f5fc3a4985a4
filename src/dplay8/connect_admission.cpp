#include "dplay8/connect_admission.h"

namespace dplay8 {

HResult CheckConnectRequest(const PlayerConnectInfo& request, const HostSettings& host) {
    if (host.closing)
        return kErrAlreadyClosing;
    // A server takes clients only; a peer (or anything claiming to be neither) is refused.
    if ((request.flags & kConnectFlagClient) == 0 || (request.flags & kConnectFlagPeer) != 0) {
        return kErrInvalidInterface;
    }
    if (request.dnet_version == 0)
        return kErrInvalidVersion;
    if (!request.instance.IsZero() && request.instance != host.instance) {
        return kErrInvalidInstance;
    }
    if (request.application != host.application)
        return kErrInvalidApplication;
    if (host.password && request.password != host.password)
        return kErrInvalidPassword;
    if (host.max_players != 0 && host.current_players >= host.max_players) {
        return kErrHostRejectedConnection;
    }
    return kOk;
}

}  // namespace dplay8
