// The register of person-script files that "RunPersonScript" fills.

#include "quest/person_script_store.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

class PersonScriptStoreTest : public ::testing::Test {
protected:
    // How often the text occurs in the debug log.
    int LogCount(const std::string& text) const {
        const std::string log = dir.Read("ErrorChk.txt");
        int count = 0;
        for (size_t at = log.find(text); at != std::string::npos;
             at = log.find(text, at + text.size())) {
            ++count;
        }
        return count;
    }
    er_test::TempDir dir;
    er_test::ScopedWorkingDir cwd{dir.path()};
    CPersonScriptStore store;
};

TEST_F(PersonScriptStoreTest, AFileIsReadOneRecordPerLineOrPieceOfALongLine) {
    const struct {
        const char* name;
        std::string content;
        size_t records;
    } cases[] = {
        {"three.txt", "NPC[01]>WALKTO(1,2)\nNPC[01]>SAY ($Hi$)\nEND", 3},
        {"crlf.txt", "a\r\nb\r\n", 2},
        {"empty.txt", "", 0},
        {"long.txt", std::string(2500, 'x') + "\n", 3},  // 1023 + 1023 + 455 bytes
        {"edge.txt", std::string(1023, 'y') + "\n", 2},  // the line end is a read of its own
        {"sub\\inner.txt", "one\n", 1},
    };
    int ordinal = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = std::string("script/") + c.name;
        for (char& ch : path) {
            ch = ch == '\\' ? '/' : ch;
        }
        dir.Write(path, c.content);
        store.AddFile(c.name);
        const PersonScriptFile* file = store.Find(c.name);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->ordinal, ordinal++);
        ASSERT_EQ(file->lines.size(), c.records);
        for (size_t i = 0; i < c.records; ++i) {
            EXPECT_EQ(file->lines[i].read, static_cast<int32_t>(i));
        }
    }
    EXPECT_EQ(LogCount("Person Script"), 0);
}

TEST_F(PersonScriptStoreTest, ANameIsRegisteredOnlyOnce) {
    dir.Write("script/walk.txt", "one\n");
    store.AddFile("walk.txt");
    dir.Write("script/walk.txt", "one\ntwo\nthree\n");
    store.AddFile("walk.txt");
    ASSERT_EQ(store.Files().size(), 1u);
    EXPECT_EQ(store.Files()[0].lines.size(), 1u);  // not read again
    store.AddFile("Walk.txt");                     // names are compared exactly
    EXPECT_EQ(store.Files().size(), 2u);
}

TEST_F(PersonScriptStoreTest, AMissingFileIsRegisteredAfterTwoLogEntries) {
    store.AddFile("missing.txt");
    store.AddFile("missing.txt");
    store.AddFile("other.txt");
    ASSERT_EQ(store.Files().size(), 2u);
    EXPECT_TRUE(store.Files()[0].lines.empty());
    EXPECT_EQ(store.Files()[1].ordinal, 1);
    EXPECT_EQ(LogCount("\nError: Could not open Person Script File:\nscript\\missing.txt"), 1);
    EXPECT_EQ(LogCount("\nError: Could not open Person Script File:\nscript\\other.txt"), 1);
}

TEST_F(PersonScriptStoreTest, NamesKeepTheirFirstFiftyOneCharacters) {
    const std::string kept(51, 'n');
    dir.Write("script/" + kept, "a\nb\n");
    const std::string longer = kept + "-and-more-that-is-cut";
    store.AddFile(longer.c_str());
    store.AddFile(longer.c_str());
    store.AddFile(kept.c_str());
    ASSERT_EQ(store.Files().size(), 1u);
    EXPECT_EQ(std::string(store.Files()[0].name), kept);
    EXPECT_EQ(store.Files()[0].lines.size(), 2u);  // opened under the kept name
}

TEST_F(PersonScriptStoreTest, FilesOutsideTheScriptFolderOrNotRegularAreNotRead) {
    dir.Write("secret.txt", "secret\n");
    dir.Write("script/folder/inside.txt", "x\n");
    for (const char* name :
         {"..\\secret.txt", "../secret.txt", "folder", "folder/../../secret.txt", "..", ""}) {
        SCOPED_TRACE(name);
        store.AddFile(name);
        const PersonScriptFile* file = store.Find(name);
        ASSERT_NE(file, nullptr);
        EXPECT_TRUE(file->lines.empty());
    }
    EXPECT_EQ(LogCount("Error: Could not open Person Script File:"), 6);
    // A name that only contains two points is an ordinary name.
    dir.Write("script/a..b", "x\n");
    store.AddFile("a..b");
    EXPECT_EQ(store.Find("a..b")->lines.size(), 1u);
}

TEST_F(PersonScriptStoreTest, TheStoreAndEachFileAreBounded) {
    std::string many;
    for (int i = 0; i < kPersonScriptMaxReads + 5; ++i) {
        many += "l\n";
    }
    dir.Write("script/many.txt", many);
    store.AddFile("many.txt");
    EXPECT_EQ(store.Find("many.txt")->lines.size(), static_cast<size_t>(kPersonScriptMaxReads));

    for (int i = 0; i < kPersonScriptMaxFiles + 10; ++i) {
        store.AddFile(("f" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(store.Files().size(), static_cast<size_t>(kPersonScriptMaxFiles));
    EXPECT_EQ(store.Find(("f" + std::to_string(kPersonScriptMaxFiles)).c_str()), nullptr);
    EXPECT_EQ(LogCount("Too many person script files"), 1);
}

}  // namespace
