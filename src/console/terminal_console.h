#pragma once
// The console of a headless server on standard input and output. The end of standard input
// (a service manager, `</dev/null`) only stops reading; the server keeps running.

#include <QObject>

#include <memory>
#include <string>

#include "console/terminal_commands.h"

class QSocketNotifier;

class TerminalConsole final : public QObject {
public:
    explicit TerminalConsole(ConsoleCommands& commands);
    ~TerminalConsole() override;

private:
    void ReadInput();
    void StopReading();

    TerminalCommands commands_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::string pending_;
};
