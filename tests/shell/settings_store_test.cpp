#include "shell/settings_store.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

constexpr const char *kName = "Session Name", *kPort = "EmberRealms Server Port";
using Read = std::pair<std::string, uint32_t>;

class SettingsStoreTest : public ::testing::Test {
protected:
    Read ReadBoth() {
        char name[260];
        uint32_t port = 1;
        EXPECT_EQ(ReadRegString(key, kName, name, sizeof name, "default"), S_OK);
        EXPECT_EQ(ReadRegDword(key, kPort, &port, 25857), S_OK);
        return {name, port};
    }

    er_test::TempDir dir;
    std::string path = (dir.path() / "EmberRealms" / "EmberRealms.ini").string();
    SettingsKey key;
};

TEST_F(SettingsStoreTest, AMissingKeyIsCreatedAndValuesRoundTripWithTheirNamesUnchanged) {
    key.Open(path);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadBoth(), Read("default", 25857));
    EXPECT_EQ(WriteRegString(key, kName, "Caf\xE9 \"North\" ;1 "), S_OK);
    EXPECT_EQ(WriteRegDword(key, kPort, 4294967295u), S_OK);
    key.Close();
    const std::string file = dir.Read("EmberRealms/EmberRealms.ini");
    EXPECT_NE(file.find("EmberRealms Server Port=4294967295\n"), std::string::npos) << file;
    key.Open(path);  // Windows-1252 text survives the UTF-8 file
    EXPECT_EQ(ReadBoth(), Read("Caf\xE9 \"North\" ;1 ", 4294967295u));
}

TEST_F(SettingsStoreTest, TextThatDoesNotFitTheBufferAndUnreadableNumbersReadAsTheDefault) {
    dir.Write("EmberRealms/EmberRealms.ini",
              "[General]\nSession%20Name=Written by Qt\nEmberRealms Server Port=12x\n"
              "Other=4294967296\n");
    key.Open(path);
    EXPECT_EQ(ReadBoth(), Read("Written by Qt", 25857));
    uint32_t other = 0;
    ReadRegDword(key, "Other", &other, 7);
    EXPECT_EQ(other, 7u);  // beyond 32 bits
    WriteRegString(key, kName, std::string(259, 'a').c_str());
    EXPECT_EQ(ReadBoth().first, std::string(259, 'a'));
    WriteRegString(key, kName, std::string(260, 'a').c_str());
    EXPECT_EQ(ReadBoth().first, "default");
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeCreatedReadsDefaultsAndFailsWrites) {
    dir.Write("blocked", "a file where the folder should be");
    key.Open((dir.path() / "blocked" / "EmberRealms.ini").string());
    EXPECT_EQ(ReadBoth(), Read("default", 25857));
    EXPECT_EQ(WriteRegDword(key, kPort, 1), E_FAIL);
}

}  // namespace
