#include "console/player_list.h"

#include <gtest/gtest.h>

namespace {

TEST(PlayerListTest, LinesFollowTheirPlayersWhenAnEarlierOneLeaves) {
    ConsoleModel model;
    PlayerList list(model);
    list.Add(101, "first");
    list.Add(202, "second");
    list.Add(303, "third");
    list.Remove(202);
    list.Remove(999);  // unknown: nothing happens
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "third"}));
    list.Add(404, "fourth");  // reuses the freed slot, appended as the last line
    const std::optional<DPNID> expected[] = {101, 303, 404, std::nullopt};
    for (int line = -1; line < 4; ++line) {
        EXPECT_EQ(list.PlayerAtLine(line), line < 0 ? std::nullopt : expected[line]) << line;
    }
    list.Clear();
    EXPECT_FALSE(list.PlayerAtLine(0));
}

TEST(PlayerListTest, AFullTableAddsNoLine) {
    ConsoleModel model;
    PlayerList list(model);
    for (DPNID id = 1; id <= PlayerList::kSlots + 1; ++id) {
        list.Add(id, "p");
    }
    EXPECT_EQ(model.PlayerLines().size(), static_cast<std::size_t>(PlayerList::kSlots));
    EXPECT_EQ(list.PlayerAtLine(PlayerList::kSlots - 1), static_cast<DPNID>(PlayerList::kSlots));
}

}  // namespace
