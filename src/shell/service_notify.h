#pragma once
// Tells a service manager (systemd, Type=notify) how the server stands: ready once it hosts,
// the reason when hosting fails, stopping when it shuts down. Does nothing when the server
// was not started by one (no NOTIFY_SOCKET).

#include <string>

void NotifyServiceManager(const std::string& state);
