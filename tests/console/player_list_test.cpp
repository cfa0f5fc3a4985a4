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
    EXPECT_EQ(model.PlayerLines(), (std::vector<std::string>{"first", "third"}));
    EXPECT_EQ(list.PlayerAtLine(1), 303u);
    EXPECT_EQ(list.PlayerAtLine(0), 101u);
    EXPECT_FALSE(list.PlayerAtLine(2));
    EXPECT_FALSE(list.PlayerAtLine(-1));

    list.Add(404, "fourth");  // reuses the freed slot, appended as the last line
    EXPECT_EQ(list.PlayerAtLine(2), 404u);
    list.Remove(999);  // unknown: nothing happens
    EXPECT_EQ(model.PlayerLines().size(), 3u);
}

TEST(PlayerListTest, AFullTableAddsNoLine) {
    ConsoleModel model;
    PlayerList list(model);
    for (DPNID id = 1; id <= PlayerList::kSlots; ++id) {
        list.Add(id, "p");
    }
    list.Add(PlayerList::kSlots + 1, "one too many");
    EXPECT_EQ(model.PlayerLines().size(), static_cast<std::size_t>(PlayerList::kSlots));
    EXPECT_EQ(list.PlayerAtLine(PlayerList::kSlots - 1), static_cast<DPNID>(PlayerList::kSlots));
}

}  // namespace
