#pragma once
// The server's command line. A few options: where the world is, whether to open a window, whether
// to host at once.

#include <cstdint>
#include <optional>
#include <string>

struct ShellOptions {
    std::string dataDir;  // empty: the working directory
    bool headless = false;
    bool start = false;
    // --simulate N: run N game ticks on a simulated clock and print the world's state.
    bool simulate = false;
    int64_t simulateTicks = 0;
    uint32_t simulateSeed = 1;      // --seed S
    int64_t simulateDumpEvery = 0;  // --dump-every K; 0 until parsed, then N when not given
    // The control socket: its path (empty: the default place), or none at all.
    std::string controlSocket;
    bool noControlSocket = false;
    // --web-console ADDRESS:PORT: the web console there, whatever the settings say.
    bool webConsole = false;
    std::string webConsoleAddress = {};
    uint16_t webConsolePort = 0;
    bool operator==(const ShellOptions&) const = default;
};

struct CommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    ShellOptions options;
    std::string error;  // for Action::Error
    bool operator==(const CommandLine&) const = default;
};

CommandLine ParseCommandLine(int argc, const char* const* argv);
const char* UsageText();

// Exit code for a bad command line or a missing data directory.
constexpr int kUsageExitCode = 2;
