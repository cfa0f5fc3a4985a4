// The host's answers at the session layer: which enumeration queries it answers and which
// join requests it refuses, with the code CONNECT_FAILED carries.

#include <gtest/gtest.h>

#include "dplay8/connect_admission.h"
#include "dplay8/core_types.h"
#include "dplay8/enum_responder.h"

namespace {

const dplay8::Guid kApplication = *dplay8::ParseGuid("{61EF80DA-691B-4247-9ADD-1C7BED2BC13E}");
const dplay8::Guid kInstance = *dplay8::ParseGuid("{94BE8123-A1AB-48FB-A2E7-23859E658936}");
const dplay8::Guid kOther = *dplay8::ParseGuid("{00000001-0000-0000-0000-000000000000}");

dplay8::HostDescription Host() {
    dplay8::HostDescription h;
    h.application = kApplication;
    h.instance = kInstance;
    h.flags = dplay8::kSessionClientServer;
    h.max_players = 50;
    h.current_players = 7;
    h.session_name = u"EmberRealms";
    return h;
}

TEST(Dplay8EnumResponder, AnswersQueriesForItsApplicationOrForAny) {
    dplay8::EnumQuery any;
    any.enum_payload = 0x1111;
    auto r = dplay8::AnswerEnumQuery(any, Host());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->enum_payload, 0x1111);
    EXPECT_EQ(r->session_name, u"EmberRealms");
    EXPECT_EQ(r->instance, kInstance);
    EXPECT_EQ(r->current_players, 7u);
    EXPECT_FALSE(r->password);

    dplay8::EnumQuery ours = any;
    ours.application = kApplication;
    EXPECT_TRUE(dplay8::AnswerEnumQuery(ours, Host()));
    dplay8::EnumQuery theirs = any;
    theirs.application = kOther;
    EXPECT_FALSE(dplay8::AnswerEnumQuery(theirs, Host()));
}

TEST(Dplay8EnumResponder, StaysSilentWithEnumerationOffAndNeverSendsThePassword) {
    dplay8::HostDescription host = Host();
    host.password_required = true;
    auto r = dplay8::AnswerEnumQuery({}, host);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->flags & dplay8::kSessionRequirePassword);
    EXPECT_FALSE(r->password);
    host.flags |= dplay8::kSessionNoEnums;
    EXPECT_FALSE(dplay8::AnswerEnumQuery({}, host));
}

TEST(Dplay8ConnectAdmission, RefusesEachBadRequestWithItsCode) {
    dplay8::HostSettings host;
    host.instance = kInstance;
    host.application = kApplication;
    dplay8::PlayerConnectInfo good;
    good.flags = dplay8::kConnectFlagClient;
    good.application = kApplication;
    EXPECT_EQ(dplay8::CheckConnectRequest(good, host), dplay8::kOk);  // zero instance is fine

    struct Case {
        const char* what;
        void (*change)(dplay8::PlayerConnectInfo&, dplay8::HostSettings&);
        dplay8::HResult expected;
    };
    const Case cases[] = {
        {"peer", [](auto& m, auto&) { m.flags = dplay8::kConnectFlagPeer; },
         dplay8::kErrInvalidInterface},
        {"client and peer",
         [](auto& m, auto&) { m.flags = dplay8::kConnectFlagClient | dplay8::kConnectFlagPeer; },
         dplay8::kErrInvalidInterface},
        {"neither", [](auto& m, auto&) { m.flags = 0; }, dplay8::kErrInvalidInterface},
        {"other instance", [](auto& m, auto&) { m.instance = kOther; },
         dplay8::kErrInvalidInstance},
        {"our instance", [](auto& m, auto&) { m.instance = kInstance; }, dplay8::kOk},
        {"other application", [](auto& m, auto&) { m.application = kOther; },
         dplay8::kErrInvalidApplication},
        {"no version", [](auto& m, auto&) { m.dnet_version = 0; }, dplay8::kErrInvalidVersion},
        {"missing password", [](auto&, auto& h) { h.password = u"secret"; },
         dplay8::kErrInvalidPassword},
        {"wrong password",
         [](auto& m, auto& h) {
             h.password = u"secret";
             m.password = u"Secret";
         },
         dplay8::kErrInvalidPassword},
        {"right password",
         [](auto& m, auto& h) {
             h.password = u"secret";
             m.password = u"secret";
         },
         dplay8::kOk},
        {"unasked password", [](auto& m, auto&) { m.password = u"x"; }, dplay8::kOk},
        {"full",
         [](auto&, auto& h) {
             h.max_players = 4;
             h.current_players = 4;
         },
         dplay8::kErrHostRejectedConnection},
        {"closing", [](auto&, auto& h) { h.closing = true; }, dplay8::kErrAlreadyClosing},
    };
    for (const Case& c : cases) {
        dplay8::PlayerConnectInfo m = good;
        dplay8::HostSettings h = host;
        c.change(m, h);
        EXPECT_EQ(dplay8::CheckConnectRequest(m, h), c.expected) << c.what;
    }
}

}  // namespace
