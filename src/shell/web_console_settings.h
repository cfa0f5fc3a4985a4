#pragma once
// The web console's three values in the settings file, beside the server's own, and the
// access token made on the first start that needs one.

#include <cstdint>
#include <string>

class SettingsKey;

struct WebConsoleSettings {
    static constexpr const char* kPortValue = "Web Console Port";
    static constexpr const char* kAddressValue = "Web Console Address";
    static constexpr const char* kTokenValue = "Web Console Token";
    static constexpr const char* kTokenFile = "webtoken.txt";

    uint32_t port = 0;  // 0: no web console
    std::string address = "127.0.0.1";
    std::string token;  // empty: none made yet
};

WebConsoleSettings ReadWebConsoleSettings(const SettingsKey& key);

// The token to use. When the settings hold none, a new one is made, stored in the settings,
// written to `tokenFile` (readable by the owner only) and `announced` is set, so that the
// caller prints it once.
std::string ProvideWebToken(SettingsKey& key, const WebConsoleSettings& settings,
                            const std::string& tokenFile, bool& announced);
