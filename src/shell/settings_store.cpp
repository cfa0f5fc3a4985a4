#include "shell/settings_store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSettings>

#include <cstdlib>
#include <cstring>

#include "base/code_page.h"

namespace {

QString FromCp1252(const std::string& text) {
    const std::u16string utf16 = Cp1252ToUtf16(text);
    return QString::fromUtf16(utf16.data(), static_cast<qsizetype>(utf16.size()));
}

std::string ToCp1252(const QString& text) {
    return Utf16ToCp1252(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                             static_cast<std::size_t>(text.size())));
}

// Keys written by Qt's own INI format escape spaces as %20; accept both spellings.
QString UnescapeKey(const QByteArray& raw) {
    QByteArray key;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == '%' && i + 2 < raw.size()) {
            bool ok = false;
            const int value = raw.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                key.append(static_cast<char>(value));
                i += 2;
                continue;
            }
        }
        key.append(raw[i]);
    }
    return QString::fromUtf8(key);
}

bool NeedsQuotes(const QString& value) {
    if (value.isEmpty()) {
        return false;
    }
    return value.front().isSpace() || value.back().isSpace() || value.front() == u'"' ||
           value.contains(u'\n') || value.contains(u'\r') || value.contains(u';') ||
           value.contains(u'#');
}

QByteArray Quote(const QString& value) {
    QByteArray out = "\"";
    for (const QChar c : value) {
        if (c == u'"' || c == u'\\') {
            out.append('\\');
            out.append(static_cast<char>(c.unicode()));
        } else if (c == u'\n') {
            out.append("\\n");
        } else if (c == u'\r') {
            out.append("\\r");
        } else {
            out.append(QString(c).toUtf8());
        }
    }
    out.append('"');
    return out;
}

QString Unquote(const QByteArray& raw) {
    QByteArray out;
    for (qsizetype i = 1; i < raw.size(); ++i) {
        const char c = raw[i];
        if (c == '"') {
            break;
        }
        if (c == '\\' && i + 1 < raw.size()) {
            const char next = raw[++i];
            out.append(next == 'n' ? '\n' : next == 'r' ? '\r' : next);
        } else {
            out.append(c);
        }
    }
    return QString::fromUtf8(out);
}

bool ReadIni(QIODevice& device, QSettings::SettingsMap& map) {
    while (!device.atEnd()) {
        const QByteArray line = device.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(';') || line.startsWith('#') || line.startsWith('[')) {
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0) {
            continue;
        }
        const QByteArray value = line.mid(equals + 1).trimmed();
        map.insert(UnescapeKey(line.left(equals).trimmed()),
                   value.startsWith('"') ? Unquote(value) : QString::fromUtf8(value));
    }
    return true;
}

bool WriteIni(QIODevice& device, const QSettings::SettingsMap& map) {
    QByteArray out = "[General]\n";
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const QString value = it.value().toString();
        out += it.key().toUtf8() + "=" + (NeedsQuotes(value) ? Quote(value) : value.toUtf8()) + "\n";
    }
    return device.write(out) == out.size();
}

QSettings::Format IniFormat() {
    static const QSettings::Format format = QSettings::registerFormat("ini", ReadIni, WriteIni);
    return format;
}

}  // namespace

SettingsKey::SettingsKey() = default;
SettingsKey::~SettingsKey() = default;

std::string SettingsKey::DefaultPath() {
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : ".") + "/.config";
    }
    return base + "/EmberRealms/EmberRealms.ini";
}

void SettingsKey::Open(const std::string& path) {
    const QString file = QString::fromStdString(path);
    QDir().mkpath(QFileInfo(file).absolutePath());
    if (!QFileInfo::exists(file)) {
        QFile created(file);
        if (created.open(QIODevice::WriteOnly)) {
            created.write("[General]\n");
        }
    }
    settings_ = std::make_unique<QSettings>(file, IniFormat());
}

void SettingsKey::Close() {
    if (settings_) {
        settings_->sync();
        settings_.reset();
    }
}

std::optional<std::string> SettingsKey::Read(const char* name) const {
    if (!settings_ || !settings_->contains(name)) {
        return std::nullopt;
    }
    return ToCp1252(settings_->value(name).toString());
}

HRESULT SettingsKey::WriteString(const char* name, const std::string& text) {
    if (!settings_) {
        return E_FAIL;
    }
    settings_->setValue(name, FromCp1252(text));
    return Commit();
}

HRESULT SettingsKey::WriteNumber(const char* name, uint32_t value) {
    if (!settings_) {
        return E_FAIL;
    }
    settings_->setValue(name, QString::number(value));
    return Commit();
}

HRESULT SettingsKey::Commit() {
    settings_->sync();
    return settings_->status() == QSettings::NoError ? S_OK : E_FAIL;
}

HRESULT ReadRegString(const SettingsKey& key, const char* name, char* buffer, uint32_t size,
                      const char* defaultText) {
    if (size == 0) {
        return S_OK;
    }
    const std::optional<std::string> stored = key.Read(name);
    const std::string& text = (stored && stored->size() + 1 <= size) ? *stored : defaultText;
    const std::size_t length = std::min<std::size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), length);
    buffer[length] = '\0';
    return S_OK;
}

HRESULT ReadRegDword(const SettingsKey& key, const char* name, uint32_t* value,
                     uint32_t defaultValue) {
    *value = defaultValue;
    const std::optional<std::string> stored = key.Read(name);
    if (!stored || stored->empty() || stored->size() > 10) {
        return S_OK;
    }
    uint64_t number = 0;
    for (char c : *stored) {
        if (c < '0' || c > '9') {
            return S_OK;
        }
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number <= UINT32_MAX) {
        *value = static_cast<uint32_t>(number);
    }
    return S_OK;
}

HRESULT WriteRegString(SettingsKey& key, const char* name, const char* text) {
    return key.WriteString(name, text != nullptr ? text : "");
}

HRESULT WriteRegDword(SettingsKey& key, const char* name, uint32_t value) {
    return key.WriteNumber(name, value);
}
