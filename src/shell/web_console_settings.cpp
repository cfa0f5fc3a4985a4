#include "shell/web_console_settings.h"

#include <fcntl.h>
#include <unistd.h>

#include "shell/settings_store.h"
#include "webconsole/web_access.h"

WebConsoleSettings ReadWebConsoleSettings(const SettingsKey& key) {
    WebConsoleSettings settings;
    ReadRegDword(key, WebConsoleSettings::kPortValue, &settings.port, 0);
    char address[64] = {};
    ReadRegString(key, WebConsoleSettings::kAddressValue, address, sizeof address, "127.0.0.1");
    settings.address = address;
    char token[256] = {};
    ReadRegString(key, WebConsoleSettings::kTokenValue, token, sizeof token, "");
    settings.token = token;
    return settings;
}

std::string ProvideWebToken(SettingsKey& key, const WebConsoleSettings& settings,
                            const std::string& tokenFile, bool& announced) {
    announced = false;
    if (!settings.token.empty()) {
        return settings.token;
    }
    const std::string token = MakeAccessToken();
    WriteRegString(key, WebConsoleSettings::kTokenValue, token.c_str());
    // Created with the owner's read and write only; an older file is replaced.
    ::unlink(tokenFile.c_str());
    const int fd = ::open(tokenFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string line = token + "\n";
        [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
        ::close(fd);
    }
    announced = true;
    return token;
}
