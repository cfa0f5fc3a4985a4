#pragma once
// The program's life: the world's objects created in their fixed order (each step logged),
// the settings read, the console created, the event loop run, and everything taken down
// again in order when the console closes.

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "console/console_model.h"
#include "console/server_statistics.h"
#include "net/dplay8_session.h"
#include "net/network_session.h"
#include "net/server_rates.h"
#include "shell/command_line.h"
#include "shell/settings_store.h"
#include "shell/web_console_settings.h"
#include "world/random.h"

class TimeSource;
class ManualTimeSource;
class CMainObjectSet;
class CServerQuestLoader;
class NightDay;
class GameWeather;
class GameTick;
class ConsoleCommands;
class ConsoleSessionView;
class PlayerList;
class ConsoleWindow;
class TerminalConsole;
class ControlSocket;
class SpeechRecorder;
class WorldView;
class WebConsole;
class TerminalCommands;
class SignalBridge;
class QCoreApplication;
class QTimer;

class ServerShell {
public:
    static constexpr const char* kDefaultSessionName = "Ember Realms Game";
    static constexpr uint32_t kDefaultServerPort = 25857;

    ServerShell(const ShellOptions& options, TimeSource& time);
    ~ServerShell();
    ServerShell(const ServerShell&) = delete;
    ServerShell& operator=(const ServerShell&) = delete;

    // Makes the session object each time hosting starts; none means hosting fails to start.
    void SetSessionFactory(NetworkSession::SessionFactory factory) {
        sessionFactory_ = std::move(factory);
    }

    // The limits on what clients can make the host do, from the settings file; read at
    // start-up, before any session is hosted.
    const Dplay8SessionOptions& transportOptions() const { return transportOptions_; }

    // Start-up, the event loop and shutdown; returns the exit code.
    int Run(int& argc, char** argv);
    // Start-up without window, console input or hosting, options_.simulateTicks game ticks on
    // the simulated clock `clock` (the shell's time source), the state printed to `out`, then
    // the normal shutdown. Returns the exit code.
    int Simulate(ManualTimeSource& clock, std::FILE* out);

private:
    void StartUp();
    void ReadTransportLimits();
    // One game tick, timed; about once a second the network totals are sampled too.
    void RunTimedTick();
    // Creates the window or, headless, the terminal console; false when no window can be made.
    bool CreateConsole(int& argc, char** argv);
    void InitialiseConsole();
    void OpenControlSocket();
    // The web console, when the settings or the command line give it a port.
    void OpenWebConsole();
    ServerStatistics Statistics();
    // The console is closing (window closed, Exit, a signal, a failed server start).
    void RequestClose();
    void Shutdown();

    ShellOptions options_;
    TimeSource& time_;
    std::unique_ptr<SignalBridge> signals_;

    RuntimeRandom runtimeRandom_;
    std::unique_ptr<NightDay> nightDay_;
    std::unique_ptr<CRandom> random_;
    std::unique_ptr<GameWeather> weather_;
    std::unique_ptr<CMainObjectSet> objectSet_;
    std::unique_ptr<CServerQuestLoader> questLoader_;
    // The network session; it owns playerLock, so it lives from the lock's creation to its end.
    std::unique_ptr<NetworkSession> session_;
    NetworkSession::SessionFactory sessionFactory_;
    Dplay8SessionOptions transportOptions_;
    TickTiming tickTiming_;
    TrafficMeter trafficMeter_;
    double trafficSampledMs_ = 0;
    SettingsKey settingsKey_;
    SessionSettings settings_;
    ServerRates rates_;
    std::unique_ptr<GameTick> gameTick_;

    ConsoleModel consoleModel_;
    std::unique_ptr<ConsoleCommands> consoleCommands_;
    std::unique_ptr<PlayerList> playerList_;
    std::unique_ptr<ConsoleSessionView> sessionView_;
    std::unique_ptr<QCoreApplication> app_;
    std::unique_ptr<ConsoleWindow> window_;
    std::unique_ptr<TerminalConsole> terminal_;
    std::unique_ptr<ControlSocket> control_;
    double startedMs_ = 0;  // the time source's reading at start-up
    WebConsoleSettings webSettings_;
    std::array<std::string, 50> npcNames_;  // each placed NPC's NPC-list line
    std::unique_ptr<SpeechRecorder> speech_;
    std::unique_ptr<WorldView> worldView_;
    std::unique_ptr<TerminalCommands> webCommands_;
    std::unique_ptr<WebConsole> web_;
    std::unique_ptr<QTimer> gameTimer_;
    std::unique_ptr<QTimer> idleTimer_;
    bool shutDown_ = false;
};
