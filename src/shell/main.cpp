#include <cstdio>
#include <filesystem>
#include <system_error>

#include "net/dplay8_session.h"
#include "shell/command_line.h"
#include "shell/server_shell.h"
#include "shell/simulation.h"
#include "world/time_source.h"

#ifndef ER_VERSION
#define ER_VERSION "unknown"
#endif

int main(int argc, char** argv) {
    const CommandLine commandLine = ParseCommandLine(argc, argv);
    switch (commandLine.action) {
        case CommandLine::Action::Help:
            std::fputs(UsageText(), stdout);
            return 0;
        case CommandLine::Action::Version:
            std::printf("emberrealms-server %s\n", ER_VERSION);
            return 0;
        case CommandLine::Action::Error:
            std::fprintf(stderr, "emberrealms-server: %s\n%s", commandLine.error.c_str(),
                         UsageText());
            return kUsageExitCode;
        case CommandLine::Action::Run:
            break;
    }

    const ShellOptions& options = commandLine.options;
    if (!options.dataDir.empty()) {
        std::error_code error;
        std::filesystem::current_path(options.dataDir, error);
        if (error) {
            std::fprintf(stderr, "emberrealms-server: cannot use data directory '%s': %s\n",
                         options.dataDir.c_str(), error.message().c_str());
            return kUsageExitCode;
        }
    }

    if (options.simulate) {
        ManualTimeSource clock(kSimulationStartMs);
        ServerShell shell(options, clock);
        return shell.Simulate(clock, stdout);
    }

    MonotonicTimeSource time;
    ServerShell shell(options, time);
    // Hosting is DirectPlay 8 over UDP.
    shell.SetSessionFactory(
        [&shell] { return std::make_unique<Dplay8Session>(shell.transportOptions()); });
    return shell.Run(argc, argv);
}
