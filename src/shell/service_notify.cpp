#include "shell/service_notify.h"

#include <systemd/sd-daemon.h>

void NotifyServiceManager(const std::string& state) {
    sd_notify(0, state.c_str());
}
