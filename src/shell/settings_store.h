#pragma once
// The server's two persistent settings, kept where Windows kept them in the registry key
// "Software\EmberRealms": an INI file at $XDG_CONFIG_HOME/EmberRealms/EmberRealms.ini
// (~/.config when XDG_CONFIG_HOME is unset). Value names are unchanged and written as they
// are ("Session Name=Ember Realms Game").

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/hresult.h"

class QSettings;

class SettingsKey {
public:
    SettingsKey();
    ~SettingsKey();
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    // Where the settings live for this user.
    static std::string DefaultPath();

    // Opens the file, creating it and its folder when missing. A key that cannot be created
    // still opens: reads give the defaults and writes fail.
    void Open(const std::string& path);
    void Close();
    bool IsOpen() const { return settings_ != nullptr; }

    // The stored text of a value, as 8-bit Windows-1252; nothing when it is missing.
    std::optional<std::string> Read(const char* name) const;
    HRESULT WriteString(const char* name, const std::string& text);
    HRESULT WriteNumber(const char* name, uint32_t value);

private:
    HRESULT Commit();

    std::unique_ptr<QSettings> settings_;
};

// Reads a text value into a buffer of `size` bytes; a missing value, or one that does not fit
// with its terminating zero, gives the default. Always succeeds.
HRESULT ReadRegString(const SettingsKey& key, const char* name, char* buffer, uint32_t size,
                      const char* defaultText);
// Reads an unsigned 32-bit value; a missing or unreadable one gives the default. Always succeeds.
HRESULT ReadRegDword(const SettingsKey& key, const char* name, uint32_t* value,
                     uint32_t defaultValue);
// S_OK, or E_FAIL when the value cannot be stored.
HRESULT WriteRegString(SettingsKey& key, const char* name, const char* text);
HRESULT WriteRegDword(SettingsKey& key, const char* name, uint32_t value);
