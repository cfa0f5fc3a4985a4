#include "base/control_socket_path.h"

#include <unistd.h>

#include <cstdlib>

std::string DefaultControlSocketPath() {
    // systemd's RuntimeDirectory= may list several folders, separated by colons.
    if (const char* service = std::getenv("RUNTIME_DIRECTORY"); service && *service) {
        const std::string first(service);
        return first.substr(0, first.find(':')) + "/control.sock";
    }
    if (const char* user = std::getenv("XDG_RUNTIME_DIR"); user && *user) {
        return std::string(user) + "/emberrealms/control.sock";
    }
    if (geteuid() == 0) {
        return "/run/emberrealms/control.sock";
    }
    return "/tmp/emberrealms-" + std::to_string(geteuid()) + "/control.sock";
}
