#include "console/terminal_console.h"

#include <QSocketNotifier>
#include <QString>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>

#include "base/code_page.h"

std::string TerminalLineToText(std::string_view utf8) {
    const QString line = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(line.utf16()),
                                             static_cast<std::size_t>(line.size())));
}

std::string TextToTerminal(std::string_view text) {
    const std::u16string utf16 = Cp1252ToUtf16(text);
    const QByteArray utf8 =
        QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size())).toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

TerminalConsole::TerminalConsole(ConsoleCommands& commands) : commands_(commands) {
    if (::fcntl(STDIN_FILENO, F_GETFD) == -1) {
        return;  // no standard input at all
    }
    notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { ReadInput(); });
}

TerminalConsole::~TerminalConsole() = default;

void TerminalConsole::ReadInput() {
    char buffer[4096];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        StopReading();
        return;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
    std::size_t newline;
    while ((newline = pending_.find('\n')) != std::string::npos) {
        const std::string line = TerminalLineToText(std::string_view(pending_).substr(0, newline));
        pending_.erase(0, newline + 1);
        const std::string reply = TextToTerminal(commands_.Execute(line));
        std::fwrite(reply.data(), 1, reply.size(), stdout);
        std::fflush(stdout);
        if (!notifier_) {
            return;  // the command shut the server down
        }
    }
    if (pending_.size() > 64 * 1024) {
        pending_.clear();  // a line that never ends is not a command
    }
}

void TerminalConsole::StopReading() {
    if (notifier_) {
        notifier_->setEnabled(false);
        notifier_.reset();
    }
}
