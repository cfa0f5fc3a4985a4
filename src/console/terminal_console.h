#pragma once
// The console of a headless server on standard input and output. The end of standard input
// (a service manager, `</dev/null`) only stops reading; the server keeps running.

#include <QObject>

#include <memory>
#include <string>
#include <string_view>

#include "console/terminal_commands.h"

class QSocketNotifier;

// The terminal speaks UTF-8 and the server Windows-1252: a command line is converted on its way
// in (a byte that is not UTF-8, or a character the code page cannot hold, becomes '?'), an
// answer on its way out. Writing the server's bytes as they are would not only garble accented
// letters: two printable characters such as "\xC2\x9B" ("Â›") are the UTF-8 of the C1
// control CSI, which a terminal obeys.
std::string TerminalLineToText(std::string_view utf8);
std::string TextToTerminal(std::string_view text);

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
