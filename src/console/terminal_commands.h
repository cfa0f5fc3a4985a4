#pragma once
// The line-oriented console of a headless server: one command a line, answered with text.
// Toolkit-free so that it is tested without a terminal.

#include <string>
#include <string_view>

#include "console/console_commands.h"

class TerminalCommands {
public:
    explicit TerminalCommands(ConsoleCommands& commands) : commands_(commands) {}

    // Runs one command line and returns what to print (possibly nothing). Never fails: a bad
    // command gets an explanation.
    std::string Execute(std::string_view line);

    static const char* HelpText();

private:
    std::string Status() const;
    std::string Set(std::string_view arguments);
    std::string Rain(std::string_view arguments);
    std::string PressStart(bool wantHosting);
    std::string Players() const;
    std::string Info(std::string_view arguments) const;

    ConsoleCommands& commands_;
};
