#pragma once
// SIGINT and SIGTERM end the server through its normal shutdown: the handler only writes a
// byte to a pipe, and the event loop runs the shutdown on the window thread.

#include <functional>
#include <memory>

class QSocketNotifier;

class SignalBridge {
public:
    // Installs the handlers at once, so a signal during start-up waits for the event loop.
    SignalBridge();
    ~SignalBridge();
    SignalBridge(const SignalBridge&) = delete;
    SignalBridge& operator=(const SignalBridge&) = delete;

    // Starts delivering signals to `onSignal`; needs the application object.
    void Listen(std::function<void()> onSignal);

private:
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onSignal_;
};
