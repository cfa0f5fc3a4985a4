#pragma once
// Where a server's control socket is when no path is given, for the server and for
// emberrealms-ctl alike: the service manager's runtime directory, else the user's, else the
// system's (root) or a private folder under /tmp.

#include <string>

std::string DefaultControlSocketPath();
