#include "shell/settings_store.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    std::string Path() const { return (dir.path() / "EmberRealms" / "EmberRealms.ini").string(); }

    er_test::TempDir dir;
};

TEST_F(SettingsStoreTest, MissingKeyIsCreatedAndReadsTheDefaults) {
    SettingsKey key;
    key.Open(Path());
    EXPECT_TRUE(std::filesystem::exists(Path()));
    char name[260];
    uint32_t port = 1;
    EXPECT_EQ(ReadRegString(key, "Session Name", name, sizeof name, "Ember Realms Game"), S_OK);
    EXPECT_EQ(ReadRegDword(key, "EmberRealms Server Port", &port, 25857), S_OK);
    EXPECT_STREQ(name, "Ember Realms Game");
    EXPECT_EQ(port, 25857u);
}

TEST_F(SettingsStoreTest, ValuesRoundTripWithTheirNamesUnchanged) {
    {
        SettingsKey key;
        key.Open(Path());
        EXPECT_EQ(WriteRegString(key, "Session Name", "Caf\xE9 \"North\" ;1 "), S_OK);
        EXPECT_EQ(WriteRegDword(key, "EmberRealms Server Port", 4294967295u), S_OK);
        key.Close();
    }
    const std::string file = dir.Read("EmberRealms/EmberRealms.ini");
    EXPECT_NE(file.find("EmberRealms Server Port=4294967295\n"), std::string::npos) << file;

    SettingsKey key;
    key.Open(Path());
    char name[260];
    uint32_t port = 0;
    ReadRegString(key, "Session Name", name, sizeof name, "default");
    ReadRegDword(key, "EmberRealms Server Port", &port, 1);
    EXPECT_STREQ(name, "Caf\xE9 \"North\" ;1 ");  // Windows-1252 text survives the UTF-8 file
    EXPECT_EQ(port, 4294967295u);
}

TEST_F(SettingsStoreTest, TextThatDoesNotFitTheBufferReadsAsTheDefault) {
    SettingsKey key;
    key.Open(Path());
    WriteRegString(key, "Session Name", std::string(259, 'a').c_str());
    char name[260];
    ReadRegString(key, "Session Name", name, sizeof name, "default");
    EXPECT_EQ(std::string(name), std::string(259, 'a'));
    WriteRegString(key, "Session Name", std::string(260, 'a').c_str());
    ReadRegString(key, "Session Name", name, sizeof name, "default");
    EXPECT_STREQ(name, "default");
}

TEST_F(SettingsStoreTest, UnreadableNumbersAndQtEscapedNamesAreHandled) {
    dir.Write("EmberRealms/EmberRealms.ini",
              "[General]\nSession%20Name=Written by Qt\nEmberRealms Server Port=12x\n"
              "Other=4294967296\n");
    SettingsKey key;
    key.Open(Path());
    char name[260];
    uint32_t port = 0, other = 0;
    ReadRegString(key, "Session Name", name, sizeof name, "default");
    ReadRegDword(key, "EmberRealms Server Port", &port, 25857);
    ReadRegDword(key, "Other", &other, 7);
    EXPECT_STREQ(name, "Written by Qt");
    EXPECT_EQ(port, 25857u);
    EXPECT_EQ(other, 7u);  // beyond 32 bits
}

TEST_F(SettingsStoreTest, AKeyThatCannotBeCreatedReadsDefaultsAndFailsWrites) {
    dir.Write("blocked", "a file where the folder should be");
    SettingsKey key;
    key.Open((dir.path() / "blocked" / "EmberRealms.ini").string());
    uint32_t port = 0;
    ReadRegDword(key, "EmberRealms Server Port", &port, 25857);
    EXPECT_EQ(port, 25857u);
    EXPECT_EQ(WriteRegDword(key, "EmberRealms Server Port", 1), E_FAIL);
}

}  // namespace
