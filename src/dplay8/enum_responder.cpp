#include "dplay8/enum_responder.h"

#include "dplay8/core_types.h"

namespace dplay8 {

std::optional<EnumResponse> AnswerEnumQuery(const EnumQuery& query, const HostDescription& host) {
    if (host.flags & kSessionNoEnums)
        return std::nullopt;
    if (query.application && *query.application != host.application)
        return std::nullopt;
    EnumResponse r;
    r.enum_payload = query.enum_payload;
    r.flags = host.flags | (host.password_required ? kSessionRequirePassword : 0);
    r.max_players = host.max_players;
    r.current_players = host.current_players;
    r.session_name = host.session_name;
    r.instance = host.instance;
    r.application = host.application;
    r.reply = host.reply;
    return r;
}

}  // namespace dplay8
