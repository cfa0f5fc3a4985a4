// The server script: loading, the line budget, expressions, readers, and what scripts do.

#include "quest/server_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "quest_world.h"

namespace {

using quest_test::QuestWorld;

// clang-format off
std::string Set(int n, const std::string& value) { return "SET_GLOBAL(GLOBAL[" + std::to_string(n) + "], " + value + ")\n"; }
std::string Inc(int n) { return Set(n, "GLOBAL[" + std::to_string(n) + "] + 1"); }
std::string Repeat(const std::string& line, int count) { std::string text; while (count-- > 0) { text += line; } return text; }
// clang-format on

TEST(ServerScriptTest, LoadingDropsShortLinesCutsLongOnesAndStopsAtEof) {
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        // clang-format off
        {"LINE ONE\nab\nLINE TWO\n", {"LINE ONE\n", "LINE TWO\n"}},
        {"ab\nabcd", {"abcd"}},  // 3 characters with the line end: dropped; 4 without: kept
        {"abc\nxyz", {"abc\n"}}, {"FIRST\nxxEOFxx\nAFTER\n", {"FIRST\n"}}, {"", {}},
        {"FIRST\nDUDIDOVI\nAFTER\n", {"FIRST\n", "DUDIDOVI\n", "AFTER\n"}}, {"a\r\nbcdef\r\n", {"bcdef\n"}},
        {std::string(650, 'x') + "\n", {std::string(299, 'x'), std::string(299, 'x'), std::string(52, 'x') + "\n"}},
        // clang-format on
    };
    for (const auto& [file, expected] : cases) {
        QuestWorld world;
        CServerScript& script = world.LoadScript(file);
        const std::vector<std::string> lines(script.lines, script.lines + script.lineCount);
        EXPECT_EQ(lines, expected) << file;
        EXPECT_EQ(world.dir.Read("scriptput.txt"),
                  std::accumulate(lines.begin(), lines.end(), std::string()));
    }
    QuestWorld world;
    world.LoadScript("SET_GLOBAL(GLOBAL[1], 1)\n").Load("script\\none.ers");  // leaves nothing
    EXPECT_EQ(world.Script().lineCount, 0);
    EXPECT_EQ(quest_test::Count(world.Log(), "\nCServerScript: Could not open script file!"), 1);
    world.Script().RunMainPass();
    EXPECT_EQ(world.Globals(), "");
}

TEST(ServerScriptTest, APassEndsWhenItsLineBudgetIsUsedUp) {
    QuestWorld world;  // each call costs its RUN line and the section's 99 lines
    world.LoadScript(Repeat("RUN_PERSON_SCRIPT[1]\n", 30) + "BEGIN_PERSON_SCRIPT[1]\n" +
                     Repeat(Inc(1), 99));
    world.Script().SetPassBudget(1000);
    world.Script().RunMainPass();
    EXPECT_TRUE(world.Script().BudgetExhausted());
    EXPECT_EQ(world.Globals(), "G1=990");
    world.Script().RunMainPass();  // the next pass has its own budget
    EXPECT_EQ(world.Globals(), "G1=1980");
    world.LoadScript("RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\n" + Set(2, "1")).RunMainPass();
    EXPECT_FALSE(world.Script().BudgetExhausted());
}

TEST(ScriptExpressionTest, TermsReadTheWorldAndExpressionsFoldStrictlyFromLeftToRight) {
    QuestWorld world(2);
    CServerNPC& npc = world.npcs.Npc(1);
    // clang-format off
    world.clock.dayCount = 3; world.clock.shownHour = 14; world.clock.shownMinute = 36; world.weather.publishedVolume = 42.9f;
    world.Loader().globals[0] = 11; world.Loader().globals[1] = 1234; world.Loader().globals[11] = 12;
    npc.posX = 123.75f; npc.posY = -4.5f; npc.currentMessage = 2; npc.instruction = 3; npc.scriptEnded[1] = 1;
    const std::pair<const char*, int32_t> cases[] = {
        {"DAY_COUNT", 3}, {"HOUR_COUNT", 14}, {"MINUTE_COUNT", 36}, {"RAIN_AMOUNT", 42}, {"GLOBAL[1]", 11}, {"GLOBAL[01]", 11},
        {"GLOBAL[12]", 12}, {"GLOBAL[123]", 12}, {"GLOBAL[0]", 0}, {"GLOBAL", 0}, {"TRUE_DAY_COUNT", 1} /* the first matching test */,
        {"42abc", 42}, {"NPC[02]>XPOS", 123}, {"NPC[2]>YPOS", -4}, {"NPC[02]>MESSAGE", 2}, {"NPC[02]>INSTRUCTION", 4}, {"NPC[02]>ENDED[2]", 1},
        {"NPC[02]>ENDED[1]", 0}, {"NPC[02]>ENDED[11]", 0}, {"NPC[02]>XPOSITION", 123}, {"NPC[02]>MESSAGE_MAP", 2}, {"NPC[02]>COLOUR", -100},
        {"NPC[02]>POSX", -100}, {"NPC[02]>", -100}, {"NPC[77]>XPOS", -100}, {"NPC[51]>XPOS", -100}, {"NPC[02]XPOS", -100}, {"5", 5},
        {"10 - 4 * 2", 12}, {"0 - 3", -3}, {"0 * 7", 0}, {"-7", -7}, {"17 / 5", 3}, {"2 + 3 * 4 - 1", 19}, {"-17 / 5", -3}, {"-17 % 5", -2},
        {"GLOBAL[2] % 10", 4}, {"TRUE + TRUE", 2}, {"FALSE", 0}, {"abc", 0}, {"", 0}, {"7 / 0", 0}, {"7 % 0", 0},
        {"HOUR_COUNT * 60 + MINUTE_COUNT", 876}, {"7\n", 7},  // the line end rides on the last term
        {"3 + 4 ", -100}, {"5 ", -100},  // a trailing blank steps past the end
        {"3 +4", -100}, {"3 +", -100},  // the operator takes its blank on trust
        {"2147483647 + 1", INT32_MIN}, {"-2147483648 / -1", INT32_MIN},  // wraps
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(world.Script().Evaluate(text), value) << '"' << text << '"';
    world.weather.publishedVolume = -0.03f;
    EXPECT_EQ(world.Script().TermValue("RAIN_AMOUNT"), 0);
    const std::pair<const char*, int32_t> brackets[] = {{"[7]", 6}, {"[07]", 6}, {"[12]", 11}, {"[123]", 11},
        {"NPC[1]>X", 0}, {"A[3] B[9]", 2}, {"[", -1}, {"no bracket", -1}, {"[x]", -1}, {"[-5]", -6}};
    // clang-format on
    for (const auto& [text, index] : brackets)
        EXPECT_EQ(BracketIndex(text), index) << text;
}

TEST(ScriptReaderTest, WordsSplitAtBlanksArgumentsAtSeparatorsAndBothTakeAtMostFifty) {
    QuestWorld world;
    CServerScript& script = world.Script();
    // The next `count` words or arguments of `text` from `position`, each followed by "|".
    const auto read = [&](const std::string& text, int32_t position, int count, bool arguments) {
        world.LoadScript(text).currentLine = 0;
        script.currentPosition = position;
        std::string read;
        for (int i = 0; i < count; ++i) {
            arguments ? script.NextArgument() : script.NextWord();
            read += script.tokenBuffer + std::string("|");
        }
        return read;
    };
    const std::string w50 = std::string(50, 'w') + "|", a50 = std::string(50, 'a') + "|";
    // clang-format off
    EXPECT_EQ(read("IF GLOBAL[1]  = (GLOBAL[2] + 1) AND x\n", 2, 6, false), "GLOBAL[1]|=|GLOBAL[2] + 1|)|AND|x\n|");
    EXPECT_EQ(read("(unclosed words", 0, 1, false), "unclosed words|");
    EXPECT_EQ(read(std::string(60, 'w') + " next", 0, 2, false), w50 + w50);  // the cursor stays on a long word
    EXPECT_EQ(read(std::string(60, ' ') + "far", 0, 1, false), "|");  // over 49 blanks: no word
    EXPECT_EQ(read("NPC[01]>WALKTO( 10 + 2 ,NPC[02]>XPOS)\n", 3, 4, true), "[01]>WALKTO|10 + 2 |NPC[02]>XPOS|\n|");
    EXPECT_EQ(read(std::string(60, 'a') + ",b", 0, 2, true), a50 + a50);
    EXPECT_EQ(read(std::string(60, ',') + "b", 0, 1, true), "|");
    // clang-format on
    // A quoted text keeps what fits the token buffer after its dollar.
    script.QuotedText((std::string(290, 'a') + "$" + std::string(20, 'b')).c_str());
    EXPECT_EQ(std::string(script.tokenBuffer), std::string(9, 'b'));
}

// An NPC as "x,y action instruction/count facing head", then what differs from a placed NPC.
// clang-format off
std::string Doing(const CServerNPC& npc) {
    char text[200];
    int n = std::snprintf(text, sizeof text, "%g,%g a%d i%d/%d f%d h%d", npc.posX, npc.posY, npc.action, npc.instruction, npc.instructionCount, npc.facing, npc.headFacing);
    n += npc.speed != 35.0f ? std::snprintf(text + n, sizeof text - n, " s%g", npc.speed) : 0;
    n += npc.currentMessage ? std::snprintf(text + n, sizeof text - n, " m%d", npc.currentMessage) : 0;
    n += npc.waitTimer != 0 ? std::snprintf(text + n, sizeof text - n, " w%g", npc.waitTimer) : 0;
    n += npc.visible ? 0 : std::snprintf(text + n, sizeof text - n, " hidden");
    for (int i = 0; i < kNpcScriptCount; ++i) { n += npc.scriptEnded[i] ? std::snprintf(text + n, sizeof text - n, " e%d", i + 1) : 0; }
    return text;
}

// What ticks of a script change in the globals, the NPCs, their entries and what was said.
std::string Play(const std::string& script, int ticks = 1, float frameTime = 0.05f) {
    struct Audience : NpcAudience {
        void Broadcast(const CMainObjectSet&) override {}
        void SayToNearbyPlayers(const CMainObjectSet& set, int32_t slot, int32_t x, int32_t y) override {
            said += " said " + std::to_string(slot) + "@" + std::to_string(x) + "," + std::to_string(y) + ":" + set.Npc(slot).sayText;
        }
        std::string said;
    } audience;
    QuestWorld world(3);
    world.frameTime = frameTime; world.npcs.SetAudience(&audience);
    world.clock.dayCount = 3; world.clock.shownHour = 12; world.clock.shownMinute = 30;
    world.npcs.Npc(2).type = kTypeHeadturn; world.npcs.Npc(2).instruction = 3; world.npcs.Npc(2).visible = 0;
    for (int i = 1; i < kNpcMessageMapSize; i += 2) { world.npcs.Npc(0).messageMap[i].flag = 1; }
    // clang-format on
    const CServerNPC before[] = {world.npcs.Npc(0), world.npcs.Npc(1), world.npcs.Npc(2)};
    world.LoadScript(script);
    for (int i = 0; i < ticks; ++i) {
        world.Script().RunMainPass();
        world.npcs.Tick(frameTime);
    }
    std::string text = world.Globals();
    for (int slot = 0; slot < 3; ++slot) {
        const CServerNPC& npc = world.npcs.Npc(slot);
        const std::string name = " #" + std::to_string(slot + 1);
        text += Doing(npc) != Doing(before[slot]) ? name + " " + Doing(npc) : "";
        for (int i = 0; i < kNpcMessageMapSize; ++i) {
            if (std::memcmp(&npc.messageMap[i], &before[slot].messageMap[i],
                            sizeof npc.messageMap[i]) != 0) {
                text += name + " map" + std::to_string(i + 1) + " " +
                        quest_test::Entry(npc.messageMap[i]);
            }
        }
    }
    text += audience.said;
    return text.starts_with(' ') ? text.substr(1) : text;
}

std::string Section(const std::string& lines, const char* npc = "01") {
    return "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\nPERSON_BEGIN[" + std::string(npc) +
           "]\n" + lines + "PERSON_END[" + npc + "]\nEND_PERSON_SCRIPT\n";
}

TEST(ServerScriptTest, ScriptsChangeTheWorldSo) {
    // clang-format off
    const std::string noEndif = Inc(1) + "IF GLOBAL[9] = 1\n" + Inc(2) + "RUN_PERSON_SCRIPT[1]\nBEGIN_PERSON_SCRIPT[1]\n" + Inc(3);
    const std::string nested = "IF GLOBAL[1] = 1\n IF GLOBAL[2] = 0\n  " + Set(3, "1") + " ENDIF\n " + Set(4, "1") + "ENDIF\n" + Set(5, "1") + Set(1, "1");
    const std::string direct = "NPC[01]>WALKTO(110,100)\n NPC[2]>SET_POSITION(7 + 1, MINUTE_COUNT)\n"
        "  NPC[03]>SET_POSITION(1,1)\n"  // "NPC" at the third character: no direct line
        "NPC[02]>SET_FACING($WEST$)\nNPC[02]>SET_HEAD_FACING($NORTH$)\nNPC[02]>SET_SPEED(12)\n"
        "NPC[02]>SET_MESSAGE(3)\nNPC[02]>SET_FACING($UP$)\n"  // $UP$ copies the body facing
        "NPC[51]>SET_SPEED(5)\nNPC[00]>SET_SPEED(5)\nNPC>SET_SPEED(5)\nNPC[01] SET_SPEED(5)\n";
    const std::string steps = "IF NPC[01]>ENDED[2] = 1\n" + Inc(1) + "ENDIF\nRUN_PERSON_SCRIPT[2]\nBEGIN_PERSON_SCRIPT[2]\n"
        "PERSON_BEGIN[01]\nNPC[01]>SET_POSITION(150,100)\nNPC[01]>WALKTO(160,100)\nNPC[01]>SET_FACING($NORTH$)\nPERSON_END[01]\nEND_PERSON_SCRIPT\n";
    const std::string walkSayWait = Section("NPC[01]>WALKTO(110,100)\nNPC[01]>SAY ($Hello$)\nNPC[01]>WAIT (20)\n");
    const std::string held = "RUN_PERSON_SCRIPT[1]\nRUN_PERSON_SCRIPT[2]\nBEGIN_PERSON_SCRIPT[1]\nPERSON_BEGIN[01]\n"
        "NPC[01]>SET_POSITION(1,2)\nNPC[01]>SET_MESSAGE(2)\nNPC[01]>SET_FACING($WEST$)\nPERSON_END[01]\nEND_PERSON_SCRIPT\n"
        "BEGIN_PERSON_SCRIPT[2]\nPERSON_BEGIN[02]\nNPC[02]>SET_POSITION(5,6)\nNPC[02]>SET_FACING($EAST$)\nNPC[02]>DISAPPEAR\n"
        "NPC[02]>APPEAR\nPERSON_END[02]\nEND_PERSON_SCRIPT\n";
    // RESET_SCRIPT as soon as the block ended, or on the pass after the section ran once more.
    const std::string waitSay = Section("NPC[01]>WAIT(5)\nNPC[01]>SAY ($Done$)\n");
    const std::string resetAtOnce = "IF NPC[01]>ENDED[1] = 1\n NPC[01]>RESET_SCRIPT(1)\n" + Inc(1) + "ENDIF\n" + waitSay;
    const std::string resetLater = "IF NPC[01]>ENDED[1] = 1\n" + Inc(2) + "ENDIF\nIF GLOBAL[2] = 2\n NPC[01]>RESET_SCRIPT(1)\nENDIF\n" + waitSay;
    const std::string follow = "NPC[02]>WALKTO(200,160)\nNPC[01]>SET_SPEED(20)\n" +
        Section("NPC[01]>SET_POSITION(60,100)\nNPC[01]>WALKTO(NPC[02]>XPOS, NPC[02]>YPOS)\nNPC[01]>SAY ($Caught you$)\n");
    const auto wait = [](const char* line) { return Section(std::string("NPC[01]>") + line + "\nNPC[01]>SET_FACING($WEST$)\nNPC[01]>SET_POSITION(1,1)\nNPC[01]>WAIT(1000)\n"); };
    const auto when = [](const char* condition) { return Set(1, "5") + Set(3, "2") + "IF " + condition + "\n " + Set(2, "1") + "ENDIF\n"; };
    const std::string holds = "G1=5 G2=1 G3=2", fails = "G1=5 G3=2", waited = "#1 1,1 a4 i3/4 f3 h3 w", waiting = "#1 100,100 a4 i0/4 f2 h2", ignored = "#1 100,100 a0 i0/4 f2 h2";
    const struct { std::string script; int ticks; std::string changes; float frameTime = 0.05f; } cases[] = {
        // Conditions compare by the operator's first character and chain only with AND.
        {when("GLOBAL[1] = 5"), 1, holds}, {when("GLOBAL[1] == 5"), 1, holds}, {when("GLOBAL[1] = 6"), 1, fails}, {when("GLOBAL[1] <= 5"), 1, fails},
        {when("GLOBAL[1] < 6"), 1, holds}, {when("GLOBAL[1] < 4"), 1, fails}, {when("GLOBAL[1] >= 5"), 1, fails}, {when("GLOBAL[1] > 4"), 1, holds}, {when("GLOBAL[1] != 5"), 1, fails},
        {when("GLOBAL[1] ! 4"), 1, holds}, {when("GLOBAL[1] = (4 + 1)"), 1, holds}, {when("GLOBAL[1] = 5 THEN"), 1, holds},
        {when("GLOBAL[1] = 5 AND GLOBAL[3] = 2"), 1, holds}, {when("GLOBAL[1] = 5 AND GLOBAL[3] = 3"), 1, fails}, {when("GLOBAL[1] = 4 AND GLOBAL[3] = 2"), 1, fails}, {when("GLOBAL[1] = 5 and GLOBAL[3] = 3"), 1, holds},
        // Without an operator there is no condition and the block's lines run as ordinary lines.
        {when("GLOBAL[1]"), 1, holds}, {when("0 - 1 < 0"), 1, holds}, {when("-1 < 0"), 1, holds},
        {Set(3, "7") + Inc(3) + Set(4, "GLOBAL[3] * 2") + "  " + Set(99, "0 - 3") + Set(0, "55"), 1, "G3=8 G4=16 G99=-3"},  // the first bracket names the global
        {nested, 1, "G1=1 G5=1"}, {nested, 2, "G1=1 G3=1 G4=1 G5=1"},  // nested blocks skip whole
        {"IF GLOBAL[1] = 1\n" + Set(2, "1") + "ENDIF \n" + Set(3, "1") + "ENDIF\n" + Set(4, "1"), 1, "G4=1"},  // "ENDIF " closes nothing
        // An IF without ENDIF skips the rest, or runs every line, section header included.
        {noEndif, 1, "G1=1"}, {Set(9, "1") + noEndif, 1, "G1=1 G2=1 G3=2 G9=1"},
        {Inc(1) + "RUN_PERSON_SCRIPT[2]\n" + Set(2, "GLOBAL[7]") + "RUN_PERSON_SCRIPT[9]\nBEGIN_PERSON_SCRIPT[1]\n" + Set(5, "1") +
             "END_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[2]\n" + Set(7, "GLOBAL[7] + 10") + "END_PERSON_SCRIPT\n", 2, "G1=2 G2=20 G7=20"},
        // A section run from a section leaves the cursor on the inner RUN line: the rest runs as main lines.
        {"RUN_PERSON_SCRIPT[1]\n" + Inc(9) + "BEGIN_PERSON_SCRIPT[1]\n" + Inc(1) + "RUN_PERSON_SCRIPT[2]\n" + Inc(3) + "END_PERSON_SCRIPT\n"
             "BEGIN_PERSON_SCRIPT[2]\n" + Inc(2) + "END_PERSON_SCRIPT\nBEGIN_PERSON_SCRIPT[3]\n" + Inc(4), 1, "G1=1 G2=1 G3=2"},
        {"BEGIN_PERSON_SCRIPT[1]\n" + Set(1, "1"), 1, ""},
        // Only scripts of one to 500 lines run; 260 calls of a 238-line section (the most one level asks) run in full.
        {Repeat(Inc(1), 500), 1, "G1=500"}, {Repeat(Inc(1), 501), 1, ""},
        {Repeat("RUN_PERSON_SCRIPT[1]\n", 260) + "BEGIN_PERSON_SCRIPT[1]\n" + Repeat(Inc(1), 238), 1, "G1=61880"},
        // Direct NPC lines act on every pass; a walk completes on the pass that finds the NPC on its target.
        {direct, 1, "#1 101.75,100 a3 i0/-1 f1 h1 #2 8,30 a0 i0/-1 f3 h3 s12 m2"}, {direct, 6, "#1 110,100 a3 i0/-1 f1 h1 #2 8,30 a0 i0/-1 f3 h3 s12 m2"},
        {direct, 7, "#1 110,100 a0 i0/-1 f1 h1 #2 8,30 a0 i0/-1 f3 h3 s12 m2"},
        // A block steps one instruction at a time and ends on the pass completing the last; then its lines are not counted.
        {steps, 1, "#1 151.75,100 a3 i1/3 f1 h1"}, {steps, 6, "#1 160,100 a3 i1/3 f1 h1"},
        {steps, 7, "#1 160,100 a0 i0/3 f0 h0 e2"}, {steps, 8, "G1=1 #1 160,100 a0 i0/0 f0 h0 e2"},
        // The block of a non-person-script NPC stops at its first line; the lines run as direct lines.
        {Section("NPC[02]>SET_SPEED(99)\n NPC[03]>SET_SPEED(77)\n", "03"), 2, "#2 100,100 a0 i0/-1 f2 h2 s99 #3 100,100 a0 i3/-1 f2 h2 s77 hidden"},
        // 10 units at 1.75 a tick: the walk lands on tick 6, tick 7 completes it, says, and begins WAIT (20).
        {walkSayWait, 6, "#1 110,100 a3 i0/3 f1 h1"}, {walkSayWait, 7, "#1 110,100 a4 i2/3 f1 h1 w0.5 said 0@110,100:Hello"},
        {walkSayWait, 47, "#1 110,100 a4 i2/3 f1 h1 w20.5 said 0@110,100:Hello"}, {walkSayWait, 60, "#1 110,100 a0 i0/0 f1 h1 w0.5 e1 said 0@110,100:Hello"},
        {held, 21, "#1 1,2 a0 i1/3 f2 h2 m1 #2 5,6 a0 i4/4 f1 h1"},  // SET_MESSAGE never completes
        // A reset reruns the block in full; its wait starts from the increment its last completion left.
        {resetAtOnce, 12, "#1 100,100 a0 i0/2 f2 h2 w0.5 e1 said 0@100,100:Done"},
        {resetAtOnce, 13, "G1=1 #1 100,100 a4 i0/2 f2 h2 w1 said 0@100,100:Done"}, {resetAtOnce, 22, "G1=1 #1 100,100 a4 i0/2 f2 h2 w5.5 said 0@100,100:Done"},
        {resetAtOnce, 23, "G1=1 #1 100,100 a0 i0/2 f2 h2 w0.5 e1 said 0@100,100:Done said 0@100,100:Done"},
        {resetLater, 14, "G2=2 #1 100,100 a0 i0/1 f2 h2 w1 e1 said 0@100,100:Done"},  // a count of 0 ends at once
        {follow, 40, "#1 98.4434,109.987 a3 i1/3 f1 h1 s20 #2 160.006,136.045 a3 i0/-1 f1 h1"},
        {"NPC[01]>DISAPPEAR\nNPC[01]>NOW_DISAPPEARING(5)\nNPC[03]>REAPPEAR\n", 1, "#1 100,100 a0 i0/-1 f2 h2 hidden #3 100,100 a0 i3/-1 f2 h2"},
        {"NPC[01]>disappear\nNPC[03]>APPEA\n", 1, ""}, {"NPC[03]>APPEARS\n", 1, "#3 100,100 a0 i3/-1 f2 h2"},
        // MESSAGE_MAP: links minus one until TRUE or FALSE (the flag) or five links (flag kept), then the text.
        {"NPC[01]>MESSAGE_MAP[01](3,4,TRUE)$Where to?$", 1, "#1 map1 2,3, f1 Where to?"}, {"NPC[1]>MESSAGE_MAP[2](1,FALSE)$Bye$", 1, "#1 map2 0, f0 Bye"},
        {"NPC[01]>MESSAGE_MAP[04](1,2,3,4,5,6)$Six$", 1, "#1 map4 0,1,2,3,4, f1 Six"}, {"NPC[01]>MESSAGE_MAP[09](2)$Hi$", 1, "#1 map9 1,-1,-1,-1,-1, f0 Hi"},
        {"NPC[01]>MESSAGE_MAP[10](DAY_COUNT + 1, 0 - 3, TRUE)", 1, "#1 map10 3,-4, f1 "}, {"NPC[01]>MESSAGE_MAP[03](TRUE)$x$", 1, "#1 map3  f1 x"},
        {"NPC[01]>MESSAGE_MAP[07](129,TRUE)$wraps$", 1, "#1 map7 -128, f1 wraps"}, {"NPC[01]>XMESSAGE_MAP[5]( 2, TRUE)$Contains$", 1, "#1 map5 1, f1 Contains"},
        {"NPC[01]>MESSAGE_MAP[06](3, TRUE )$Hi$", 1, "#1 map6 2,-101,-1,-1,-1, f1 Hi"},  // "TRUE " is an expression reading -100
        {"NPC[01]>MESSAGE_MAP[11](2,TRUE)$No$\nNPC[01]>MESSAGE_MAP[00](2,TRUE)$No$\nNPC[01]>MESSAGE_MAP(2,TRUE)$No$\n", 1, ""}, {"NPC[02]>SAY$Hello$\nNPC[02]>SAYS ($Hello$)\n", 1, ""},
        {"NPC[02]>WALKTO(200,100)\nNPC[02]>SAY ($Hi$)\n", 2, "#2 103.5,100 a3 i0/-1 f1 h1 said 1@100,100:Hi said 1@101,100:Hi"},
        {"NPC[02]>SAY($Hi, there (you)$)\nNPC[02]>SAY ($Open\nNPC[02]>SAY ()\n", 1, "said 1@100,100:Hi, there (you) said 1@100,100:Open\n said 1@100,100:"},
        // WAIT completes on the pass whose timer already exceeds its tenths.
        {wait("WAIT(10)"), 22, waited + "1"}, {wait("WAIT(10)"), 21, waiting + " w10.5"}, {wait("WAIT(0)"), 2, waited + "1"},
        {wait("WAIT(-1)"), 1, waited + "1"}, {wait("WAIT(10)"), 3, waited + "20", 1.0f}, {wait("WAIT(3)"), 3, waited + "5", 0.25f}, {wait("WAIT(5 * 2)"), 22, waited + "1"},
        // WAIT_FOR_TIME and WAIT_FOR_DAY leave the timer at 0; WAIT_FOR adds an increment.
        {wait("WAIT_FOR_TIME(HOUR_COUNT, 30)"), 1, waited + "0.5"}, {wait("WAIT_FOR_TIME(12, 31)"), 1, waiting},
        {wait("WAIT_FOR_TIME(11, 30)"), 1, waiting}, {wait("WAIT_FOR_DAY(3)"), 1, waited + "0.5"}, {wait("WAIT_FOR_DAY(2)"), 1, waiting},
        {wait("WAIT_FOR(3, 3)"), 1, waited + "1"}, {wait("WAIT_FOR(03, HOUR_COUNT - 8)"), 1, waiting + " w0.5"},
        {wait("WAIT_FOR(0000000000000000003, 3)"), 1, waited + "1"},  // 19 characters are kept
        {wait("WAIT_FOR(00000000000000000003, 3)"), 5, ignored}, {wait("WAIT_FOR(51, 0)"), 5, ignored}, {wait("WAIT_FOR(0, 0)"), 5, ignored}, {wait("WAIT_FOR(-3, 0)"), 5, ignored},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(Play(c.script, c.ticks, c.frameTime), c.changes) << c.script << c.ticks;
}

}  // namespace
