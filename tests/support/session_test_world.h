#pragma once
// What a network session reads of the world, at the console's start rates, for tests and benches.

#include "net/network_session.h"
#include "world/game_weather.h"
#include "world/night_day.h"
#include "world/random.h"
#include "world/time_source.h"

struct SessionTestWorld {
    explicit SessionTestWorld(uint64_t startMilliseconds = 100000) : time(startMilliseconds) {
        clock.InitNightDay(), weather.InitWeather();
        rates.updateRate = 50.0f, rates.reliableRate = 0, rates.npcUpdateRate = 50;
        rates.messageTimeout = 60.0f;
    }
    SessionWorld World() { return SessionWorld{npcs, clock, weather}; }

    ManualTimeSource time;
    RuntimeRandom runtimeRandom;
    NightDay clock{time};
    GameWeather weather{runtimeRandom};
    ServerRates rates;
    CRandom random;
    CMainObjectSet npcs{[this] { return time.AppTime(); }, rates.npcUpdateRate};
    SessionSettings settings;
};
