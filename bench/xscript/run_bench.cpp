// Cost of one Run of a quest-logic script of about a thousand tokens: loops over NPCs, host
// calls that read NPC properties, arithmetic, comparisons and branches. The server runs the
// script once per 50 ms tick, so 100 ns per token keeps a 1,000-token script under 0.2 % of it.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

#include "xscript/xscript.h"

namespace {

const char* const kQuestScript = R"(
// Quest logic run once per tick.
tick += 1;
phase = tick % 40;

// Who is near the well, and where is the crowd?
npc = 1;
near = 0;
sumX = 0;
sumY = 0;
while (npc <= 8) {
    x = GetVar("NPC", npc, "XPOS");
    y = GetVar("NPC", npc, "YPOS");
    dx = x - 160;
    dy = y - 120;
    dist = dx * dx + dy * dy;
    near += (dist < 2500);
    sumX += x;
    sumY += y;
    npc += 1;
}
centreX = sumX / 8;
centreY = sumY / 8;

// The blacksmith's errand.
smithState = GetVarEx("NPC", 3, "ENDED", 1);
if (smithState == 1) {
    errandDone = 1;
    reward = reward + 25 * (level + 1);
} else {
    errandTimer += 1;
}
if (errandTimer > 600) {
    errandTimer = 0;
    RunPersonScript("smith_reminder.txt", 3);
}

// Day and night guards.
hour = (tick / 1200) % 24;
night = (hour < 6) || (hour >= 20);
if (night) {
    guards = 4;
    lampsLit = 1;
} else {
    guards = 2;
    lampsLit = 0;
}

// Market prices drift with the crowd.
price = 100 + near * 5 - (phase % 7) * 2;
if (price < 80) {
    price = 80;
}
if (price > 140) {
    price = 140;
}
discount = (level >= 3) && (reputation > 50);
if (discount) {
    price = price * 9 / 10;
}

// Messages of the innkeeper, refreshed every few ticks.
if (phase == 0) {
    NPC_MessageMap(2, 1, "2,3.", 1, "Welcome, traveller!");
    NPC_MessageMap(2, 2, "4.", 2, "The smith was asking for you.");
    NPC_MessageMap(2, 3, "1.", 0, "Rooms are ten coins a night.");
}

// Count down the patrol and turn the guards around.
patrol = 0;
steps = 0;
while (patrol < 6) {
    patrol += 1;
    steps = steps + guards * 2;
    gx = GetVar("NPC", patrol + 10, "XPOS");
    turnBack = gx > 300;
    steps = steps - turnBack;
}

// Reputation and levels.
reputation = reputation + errandDone * 10 + (near > 3);
if (reputation > 100) {
    reputation = 100;
}
level = reputation / 25;
level -= level % 1;
milestone = (level == 2) && (errandDone == 1) && (!bonusGiven);
if (milestone) {
    bonusGiven = 1;
    reward += 100;
}

// Weather talk of the farmer.
message = GetVar("NPC", 5, "MESSAGE");
instruction = GetVar("NPC", 5, "INSTRUCTION");
if (message == 3 && instruction > 2) {
    NPC_MessageMap(5, 4, "5,6.", 1, "Rain is coming, I can smell it.");
}
farmerBusy = (instruction != 0) || (message >= 2);
idle = idle * (1 - farmerBusy) + 1;
score = reward * 3 + reputation * 2 + level * 50 - idle % 10;

// The herbalist wants five herbs; each visit near her hut counts one.
hx = GetVar("NPC", 7, "XPOS");
hy = GetVar("NPC", 7, "YPOS");
atHut = (hx > 40) && (hx < 120) && (hy > 200);
if (atHut && herbs < 5) {
    herbs += 1;
    NPC_MessageMap(7, 1, "2.", 1, "Another herb, thank you.");
}
if (herbs == 5) {
    herbQuest = 2;
    reward += 40;
    herbs = 6;
} else {
    herbHint = (tick % 100) == 50;
}
if (herbHint) {
    NPC_MessageMap(7, 2, "1,3.", 2, "The blue flowers grow by the river.");
}

// The captain's drill: count the guards standing at their posts.
post = 1;
onPost = 0;
while (post <= 4) {
    px = GetVar("NPC", post + 20, "XPOS");
    py = GetVar("NPC", post + 20, "YPOS");
    onPost += (px == post * 40) + (py == 100);
    post += 1;
}
drillDone = onPost >= guards;
captainMood = captainMood + drillDone * 2 - (onPost < 2);
if (captainMood > 10) {
    captainMood = 10;
}
if (captainMood < 0) {
    captainMood = 0;
}
if (drillDone) {
    NPC_MessageMap(9, 1, "2,4,5.", 1, "At ease, soldiers.");
} else {
    NPC_MessageMap(9, 1, "3.", 2, "To your posts!");
}

// The ferryman crosses when enough passengers wait and the river is calm.
waiting = 0;
dock = 1;
while (dock <= 3) {
    wx = GetVar("NPC", dock + 30, "XPOS");
    waiting += (wx > 250) && (wx < 300);
    dock += 1;
}
calm = (night == 0) && (phase < 30);
if (waiting >= 2 && calm) {
    ferryTrips += 1;
    RunPersonScript("ferry_cross.txt", 1);
} else {
    ferryWait = ferryWait + 1 - calm;
}

// Totals for the quest journal.
questsDone = errandDone + (herbQuest == 2) + milestone;
journal = questsDone * 1000 + level * 100 + captainMood * 10 + (night != 0);
weeklyTick = tick % 8400;
if (weeklyTick == 0) {
    reputation = reputation / 2;
    captainMood = 5;
    herbs = 0;
}
)";

// Host functions shaped like the server's: fixed argument counts, integer results.
int32_t QuestHost(CXScript* engine, CXSymbol symbol) {
    static std::vector<CXValue> arguments;
    if (symbol.text == "GetVar") {
        engine->PopValues(3, arguments, true);
        const int32_t npc = arguments[1].ToInt();
        engine->PushValue(CXValue(npc * 37 % 320));
    } else if (symbol.text == "GetVarEx") {
        engine->PopValues(4, arguments, true);
        engine->PushValue(CXValue(arguments[3].ToInt() & 1));
    } else if (symbol.text == "RunPersonScript") {
        engine->PopValues(2, arguments, true);
    } else if (symbol.text == "NPC_MessageMap") {
        engine->PopValues(5, arguments, true);
    } else if (symbol.text == "print") {
        engine->PopValues(1, arguments, true);
    }
    return -1;
}

void BM_QuestScriptRun(benchmark::State& state) {
    CXScript engine;
    for (const char* name : {"print", "GetVar", "GetVarEx", "RunPersonScript", "NPC_MessageMap"}) {
        engine.RegisterFunction(name);
    }
    if (engine.LoadScriptText(kQuestScript) != 0) {
        state.SkipWithError("script did not load");
        return;
    }
    engine.SetFunctionHandler(&QuestHost);
    // A limit far above the script's needs turns a runaway loop into an error, not a hang.
    engine.SetStepLimit(1000000);
    engine.Run();
    const double loaded = static_cast<double>(engine.Tokens().size());
    const double taken = static_cast<double>(engine.StepsTaken());
    for (auto _ : state) {
        engine.Run();
    }
    if (engine.StepLimitReached()) {
        state.SkipWithError("a run did not finish");
        return;
    }
    benchmark::DoNotOptimize(engine.GetVariable("score"));
    state.counters["script_tokens"] = loaded;
    state.counters["tokens_taken"] = taken;
    // Time per token of the script, and per token the evaluator actually took (loops repeat).
    state.counters["time_per_script_token"] = benchmark::Counter(
        loaded, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["time_per_token_taken"] = benchmark::Counter(
        taken, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_QuestScriptRun)->Unit(benchmark::kMicrosecond);

// Loading is done once at start-up; measured so a slow tokenizer would show.
void BM_QuestScriptLoad(benchmark::State& state) {
    for (auto _ : state) {
        CXScript engine;
        for (const char* name :
             {"print", "GetVar", "GetVarEx", "RunPersonScript", "NPC_MessageMap"}) {
            engine.RegisterFunction(name);
        }
        engine.LoadScriptText(kQuestScript);
        benchmark::DoNotOptimize(engine.Tokens().data());
    }
}
BENCHMARK(BM_QuestScriptLoad)->Unit(benchmark::kMicrosecond);

}  // namespace
