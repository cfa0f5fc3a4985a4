#include "shell/server_shell.h"

#include <QApplication>
#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/control_socket_path.h"
#include "base/debug_log.h"
#include "console/console_commands.h"
#include "console/console_session_view.h"
#include "console/console_window.h"
#include "console/control_socket.h"
#include "console/player_info.h"
#include "console/player_list.h"
#include "console/terminal_commands.h"
#include "console/terminal_console.h"
#include "npc/main_object_set.h"
#include "quest/server_quest_loader.h"
#include "shell/game_timer.h"
#include "shell/service_notify.h"
#include "shell/signal_bridge.h"
#include "shell/simulation.h"
#include "webconsole/metrics_text.h"
#include "webconsole/web_console.h"
#include "webconsole/world_view.h"
#include "world/game_tick.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/time_source.h"
#include "xscript/xscript.h"

namespace {

constexpr const char* kSessionNameValue = "Session Name";
constexpr const char* kServerPortValue = "EmberRealms Server Port";
// Limits on what clients can make the host do; read only, so that the file holds them only
// when an operator has written them.
constexpr const char* kMessageRateValue = "Client Message Rate";
constexpr const char* kEnumerationRateValue = "Enumeration Reply Rate";
constexpr const char* kPendingLimitValue = "Pending Connection Limit";
constexpr const char* kSendQueueValue = "Send Queue Limit";

// 0 in the settings file means no limit.
size_t LimitOrNone(uint32_t value, size_t unit = 1) {
    return value == 0 ? SIZE_MAX : size_t(value) * unit;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && value[0] != '\0') {
            return true;
        }
    }
    return false;
}

// Qt aborts the process when its display cannot be reached; with the minimal platform as the
// last fallback it starts instead, and that tells us no window can be shown.
void ChooseWindowPlatform() {
    const char* chosen = std::getenv("QT_QPA_PLATFORM");
    if (chosen != nullptr && chosen[0] != '\0') {
        return;
    }
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool waylandFirst = wayland != nullptr && wayland[0] != '\0';
    setenv("QT_QPA_PLATFORM", waylandFirst ? "wayland;xcb;minimal" : "xcb;wayland;minimal", 1);
}

}  // namespace

ServerShell::ServerShell(const ShellOptions& options, TimeSource& time)
    : options_(options), time_(time) {}

ServerShell::~ServerShell() = default;

int ServerShell::Run(int& argc, char** argv) {
    signals_ = std::make_unique<SignalBridge>();
    StartUp();
    if (!CreateConsole(argc, argv)) {
        return 0;  // nothing was started yet: no shutdown, no settings written
    }
    InitialiseConsole();
    const int exitCode = app_->exec();
    // The views go before the objects they show.
    web_.reset();
    control_.reset();
    terminal_.reset();
    window_.reset();
    return exitCode;
}

int ServerShell::Simulate(ManualTimeSource& clock, std::FILE* out) {
    StartUp();
    consoleCommands_->Initialise(settings_.sessionName, settings_.serverPort);
    const int64_t ticks = options_.simulateTicks;
    for (int64_t tick = 1; tick <= ticks; ++tick) {
        clock.Advance(kSimulationStepMs);
        gameTick_->Run();
        if (SimulationDumpDue(tick, ticks, options_.simulateDumpEvery)) {
            PrintStateBlock(out, tick, *nightDay_, *weather_, questLoader_.get(), *objectSet_);
        }
    }
    std::fflush(out);
    Shutdown();
    return 0;
}

void ServerShell::StartUp() {
    // A simulation seeds the weather's generator with its own seed, so every run is the same.
    const auto seed = [this] {
        return options_.simulate ? options_.simulateSeed : time_.Milliseconds();
    };
    runtimeRandom_.Seed(seed());
    startedMs_ = time_.AppTime() * 1000.0;
    LogOpen();

    LogLine("WinMain: Initialising Night/Day");
    nightDay_ = std::make_unique<NightDay>(time_);
    nightDay_->InitNightDay();

    runtimeRandom_.Seed(seed());

    LogLine("WinMain: Initialising CRandom Class");
    random_ = std::make_unique<CRandom>(CRandom::kMultiplier, CRandom::kIncrement,
                                        CRandom::kModulus, CRandom::kSeed);

    LogLine("WinMain: Initialising Game Weather");
    weather_ = std::make_unique<GameWeather>(runtimeRandom_);
    weather_->InitWeather();

    LogLine("WinMain: Initialising Main Object Set");
    objectSet_ =
        std::make_unique<CMainObjectSet>([this] { return time_.AppTime(); }, rates_.npcUpdateRate);

    LogLine("WinMain: Initialising Quest Loader");
    questLoader_ = std::make_unique<CServerQuestLoader>(*objectSet_, *nightDay_, *weather_, [this] {
        return gameTick_ ? gameTick_->frameTime() : 0.0f;
    });

    LogLine("WinMain: Loading map File");
    questLoader_->onPlaced = [this](int32_t slot, int32_t, int32_t, const char* name) {
        if (CMainObjectSet::ValidSlot(slot)) {
            npcNames_[static_cast<size_t>(slot)] = name;
        }
    };
    questLoader_->LoadQuest(kQuestFile);

    // The console's state exists before the session that reports to it; its window or
    // terminal comes last.
    ConsoleActions actions;
    actions.close = [this] { RequestClose(); };
    actions.toggleServer = [this] { session_->ToggleServer(); };
    actions.playerCount = [this] { return session_->playerCount(); };
    actions.sendRateSettings = [this](float, float) { session_->SendRateSettings(); };
    actions.playerAtLine = [this](int line) { return playerList_->PlayerAtLine(line); };
    actions.playerInfo = [this](DPNID player) { return FreshPlayerInfo(*session_, player); };
    actions.statistics = [this] { return Statistics(); };
    consoleCommands_ = std::make_unique<ConsoleCommands>(consoleModel_, rates_, *nightDay_,
                                                         *weather_, std::move(actions));
    playerList_ = std::make_unique<PlayerList>(consoleModel_);
    sessionView_ = std::make_unique<ConsoleSessionView>(
        *consoleCommands_, *playerList_, [this](std::function<void()> work) {
            // Session threads only post; the window thread runs the work in its event loop.
            QMetaObject::invokeMethod(app_.get(), std::move(work), Qt::QueuedConnection);
        });
    sessionView_->hostingChanged = [](bool hosting) {
        NotifyServiceManager(hosting ? "READY=1\nSTATUS=Server started."
                                     : "STATUS=Server stopped.");
    };
    sessionView_->closing = [](const char* reason) {
        NotifyServiceManager(std::string("STATUS=") + reason);
    };

    // The session holds playerLock.
    session_ = std::make_unique<NetworkSession>(settings_, rates_, *random_,
                                                SessionWorld{*objectSet_, *nightDay_, *weather_},
                                                *sessionView_, sessionFactory_);
    objectSet_->SetAudience(session_.get());
    nightDay_->sendSkyWeather = [this](uint32_t sky, float volume, uint32_t lightning) {
        session_->SendSkyWeather(sky, volume, lightning);
    };

    LogLine("WinMain: Reading Values from Registry");
    settingsKey_.Open(SettingsKey::DefaultPath());
    ReadRegString(settingsKey_, kSessionNameValue, settings_.sessionName,
                  SessionSettings::kSessionNameSize, kDefaultSessionName);
    ReadRegDword(settingsKey_, kServerPortValue, &settings_.serverPort, kDefaultServerPort);
    ReadTransportLimits();
    webSettings_ = ReadWebConsoleSettings(settingsKey_);

    GameTickSteps steps;
    steps.runServerScript = [this] { questLoader_->script()->RunMainPass(); };
    steps.runXScript = [this] {
        std::lock_guard lock(session_->playerLock());
        questLoader_->engine()->Run();
    };
    steps.tickObjectSet = [this](float frameTime) { objectSet_->Tick(frameTime); };
    steps.setField = [this](TickField field, const char* text) {
        consoleCommands_->ShowTickField(field, text);
    };
    gameTick_ = std::make_unique<GameTick>(time_, *nightDay_, *weather_, std::move(steps));
    gameTick_->TakeFirstTickTime();
}

ServerStatistics ServerShell::Statistics() {
    return ServerStatistics{session_->playerCount(), tickTiming_.Summarize(), session_->Traffic(),
                            trafficMeter_.rates()};
}

void ServerShell::RunTimedTick() {
    const double startMs = time_.AppTime() * 1000.0;
    const double cpuBefore = ThreadCpuMilliseconds();
    gameTick_->Run();
    tickTiming_.Record(startMs, ThreadCpuMilliseconds() - cpuBefore);
    if (startMs - trafficSampledMs_ >= 1000.0) {
        trafficSampledMs_ = startMs;
        if (auto traffic = session_->Traffic()) {
            trafficMeter_.Sample(startMs, *traffic);
        } else {
            trafficMeter_.Reset();
        }
    }
}

void ServerShell::ReadTransportLimits() {
    dplay8::HostLimits& limits = transportOptions_.limits;
    uint32_t messageRate, enumerationRate, pending, sendQueueKiB;
    ReadRegDword(settingsKey_, kMessageRateValue, &messageRate, limits.message_rate);
    ReadRegDword(settingsKey_, kEnumerationRateValue, &enumerationRate, limits.enum_rate);
    ReadRegDword(settingsKey_, kPendingLimitValue, &pending, uint32_t(limits.max_pending));
    ReadRegDword(settingsKey_, kSendQueueValue, &sendQueueKiB,
                 uint32_t(transportOptions_.sendQueueBytes / 1024));
    limits.message_rate = messageRate;
    limits.message_burst = uint32_t(std::min<uint64_t>(2ull * messageRate, UINT32_MAX));
    limits.enum_rate = enumerationRate;
    limits.max_pending = LimitOrNone(pending);
    transportOptions_.sendQueueBytes = LimitOrNone(sendQueueKiB, 1024);
}

bool ServerShell::CreateConsole(int& argc, char** argv) {
    const bool headless = options_.headless || !HasDisplay();
    if (headless) {
        app_ = std::make_unique<QCoreApplication>(argc, argv);
        terminal_ = std::make_unique<TerminalConsole>(*consoleCommands_);
        return true;
    }
    ChooseWindowPlatform();
    app_ = std::make_unique<QApplication>(argc, argv);
    if (QGuiApplication::platformName() == "minimal") {
        std::fprintf(stderr,
                     "emberrealms-server: cannot open the console window (no usable display); "
                     "use --headless for a terminal console\n");
        return false;
    }
    window_ = std::make_unique<ConsoleWindow>(*consoleCommands_, [this] { Shutdown(); });
    sessionView_->showWaitCursor = [](bool wait) {
        if (wait && QGuiApplication::overrideCursor() == nullptr) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
        } else if (!wait) {
            while (QGuiApplication::overrideCursor() != nullptr) {
                QGuiApplication::restoreOverrideCursor();
            }
        }
    };
    window_->show();
    return true;
}

void ServerShell::InitialiseConsole() {
    consoleCommands_->Initialise(settings_.sessionName, settings_.serverPort);
    OpenControlSocket();
    OpenWebConsole();

    gameTimer_ = MakeGameTimer([this] { RunTimedTick(); });
    gameTimer_->start();

    // The second timer has never had work to do; it is kept so the event traffic stays as it was.
    idleTimer_ = std::make_unique<QTimer>();
    idleTimer_->setInterval(5000);
    idleTimer_->start();

    signals_->Listen([this] { RequestClose(); });

    if (options_.start) {
        QTimer::singleShot(0, [this] { consoleCommands_->Press(ConsoleButton::Start); });
    }
}

void ServerShell::OpenControlSocket() {
    if (options_.noControlSocket) {
        return;
    }
    const std::string path =
        options_.controlSocket.empty() ? DefaultControlSocketPath() : options_.controlSocket;
    control_ = std::make_unique<ControlSocket>(*consoleCommands_);
    std::string error;
    if (!control_->Listen(path, error)) {
        // The server still runs; only the socket's operators are without it.
        std::fprintf(stderr, "emberrealms-server: no control socket: %s\n", error.c_str());
        control_.reset();
    }
}

void ServerShell::OpenWebConsole() {
    const bool given = options_.webConsole;
    const uint32_t port = given ? options_.webConsolePort : webSettings_.port;
    if (!given && port == 0) {
        return;
    }
    if (port > 65535) {
        std::fprintf(stderr, "emberrealms-server: no web console: port %u is out of range\n", port);
        return;
    }
    const std::string address = given ? options_.webConsoleAddress : webSettings_.address;
    bool made = false;
    const std::string token =
        ProvideWebToken(settingsKey_, webSettings_, WebConsoleSettings::kTokenFile, made);
    const auto nowMs = [this] { return time_.AppTime() * 1000.0; };

    // The NPCs speak through the recorder, which notes when, for the map.
    speech_ = std::make_unique<SpeechRecorder>(*session_, nowMs);
    objectSet_->SetAudience(speech_.get());
    worldView_ = std::make_unique<WorldView>(WorldSources{
        consoleModel_, *playerList_, *session_, *objectSet_, npcNames_, *questLoader_, *nightDay_,
        *weather_, [this] { return Statistics(); }, *speech_, nowMs, startedMs_});
    webCommands_ = std::make_unique<TerminalCommands>(*consoleCommands_);
    WebActions actions;
    actions.runCommand = [this](std::string_view line) {
        return TextToTerminal(webCommands_->Execute(TerminalLineToText(line)));
    };
    actions.stateJson = [this] { return worldView_->SnapshotJson().toStdString(); };
    actions.metricsText = [this] { return FormatMetrics(worldView_->Metrics()); };
    web_ = std::make_unique<WebConsole>(
        token, std::move(actions), [this] { return worldView_->SnapshotJson(); }, nowMs);
    std::string error;
    if (!web_->Listen(address, static_cast<uint16_t>(port), error)) {
        // The server still runs; only the browser's view is missing.
        std::fprintf(stderr, "emberrealms-server: no web console on %s:%u: %s\n", address.c_str(),
                     port, error.c_str());
        web_.reset();
        objectSet_->SetAudience(session_.get());
        return;
    }
    const bool v6 = address.find(':') != std::string::npos;
    std::fprintf(stderr, "emberrealms-server: web console at http://%s%s%s:%u/\n", v6 ? "[" : "",
                 address.c_str(), v6 ? "]" : "", web_->port());
    if (made) {
        std::fprintf(stderr,
                     "emberrealms-server: web console access token (made now, kept in the "
                     "settings and in %s): %s\n",
                     WebConsoleSettings::kTokenFile, token.c_str());
    }
    std::fflush(stderr);
}

void ServerShell::RequestClose() {
    if (window_) {
        window_->close();  // its close handler runs the shutdown
    } else {
        Shutdown();
    }
}

void ServerShell::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    NotifyServiceManager("STOPPING=1");
    if (web_) {
        web_->Stop();  // it shows objects that go below; it may be running this very command
    }
    consoleCommands_->SetClosed();
    if (gameTimer_) {
        gameTimer_->stop();
        idleTimer_->stop();
    }

    WriteRegString(settingsKey_, kSessionNameValue, settings_.sessionName);
    WriteRegDword(settingsKey_, kServerPortValue, settings_.serverPort);
    // Every player's leave is handled before this returns.
    session_->StopServer(false);
    settingsKey_.Close();
    // playerLock goes only after hosting has stopped: the session's threads take it.
    objectSet_->SetAudience(nullptr);
    nightDay_->sendSkyWeather = nullptr;
    session_.reset();
    questLoader_.reset();
    objectSet_.reset();

    if (app_) {
        QCoreApplication::exit(0);
    }
}
