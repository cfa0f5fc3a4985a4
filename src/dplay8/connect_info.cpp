#include "dplay8/connect_info.h"

#include "dplay8/var_fields.h"
#include "dplay8/wide_string.h"

namespace dplay8 {

namespace {

constexpr uint32_t kConnectInfoFixed = 80;    // after the type, through guidApplication
constexpr uint32_t kConnectInfoExFixed = 88;  // plus the alternate address pair
constexpr uint32_t kSendConnectFixed = 108;   // after the type, through dwMembershipCount
constexpr uint32_t kEntrySize = 48;
constexpr uint32_t kMembershipSize = 16;
// A name table is small in client/server sessions; this bounds what a decoder allocates.
constexpr uint32_t kMaxEntries = 4096;

}  // namespace

Bytes Encode(const PlayerConnectInfo& m) {
    bool ex = m.dnet_version >= kFirstExDnetVersion;
    Bytes url = NarrowWithTerminator(m.url);
    Bytes password = m.password ? EncodeWide(*m.password) : Bytes{};
    Bytes name = WideOrEmpty(m.name);
    VarFieldLayout layout(ex ? kConnectInfoExFixed : kConnectInfoFixed);
    auto alternate = ex ? layout.Add(m.alternate_addresses) : std::pair<uint32_t, uint32_t>{};
    auto url_field = layout.Add(url);
    auto connect_data_field = layout.Add(m.connect_data);
    auto password_field = layout.Add(password);
    auto data_field = layout.Add(m.data);
    auto name_field = layout.Add(name);

    Bytes out;
    ByteWriter w(out);
    w.U32(uint32_t(CoreType::kPlayerConnectInfo));
    w.U32(m.flags);
    w.U32(m.dnet_version);
    WritePair(w, name_field);
    WritePair(w, data_field);
    WritePair(w, password_field);
    WritePair(w, connect_data_field);
    WritePair(w, url_field);
    WriteGuid(w, m.instance);
    WriteGuid(w, m.application);
    if (ex)
        WritePair(w, alternate);
    layout.AppendTo(w);
    return out;
}

std::optional<PlayerConnectInfo> DecodePlayerConnectInfo(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kPlayerConnectInfo, body))
        return std::nullopt;
    ByteReader r(body);
    PlayerConnectInfo m;
    m.flags = r.U32();
    m.dnet_version = r.U32();
    uint32_t name_offset = r.U32(), name_size = r.U32();
    uint32_t data_offset = r.U32(), data_size = r.U32();
    uint32_t password_offset = r.U32(), password_size = r.U32();
    uint32_t connect_offset = r.U32(), connect_size = r.U32();
    uint32_t url_offset = r.U32(), url_size = r.U32();
    m.instance = ReadGuid(r);
    m.application = ReadGuid(r);
    uint32_t alternate_offset = 0, alternate_size = 0;
    if (m.dnet_version >= kFirstExDnetVersion) {
        alternate_offset = r.U32();
        alternate_size = r.U32();
    }
    if (!r.ok())
        return std::nullopt;
    if (!ReadWideField(body, name_offset, name_size, m.name) ||
        !ReadBytesField(body, data_offset, data_size, m.data) ||
        !ReadBytesField(body, connect_offset, connect_size, m.connect_data) ||
        !ReadNarrowField(body, url_offset, url_size, m.url) ||
        !ReadBytesField(body, alternate_offset, alternate_size, m.alternate_addresses)) {
        return std::nullopt;
    }
    if (password_offset != 0) {
        std::u16string password;
        if (!ReadWideField(body, password_offset, password_size, password))
            return std::nullopt;
        m.password = password;
    }
    return m;
}

Bytes Encode(const SendConnectInfo& m) {
    // Per-entry strings come first, last entry first, then the session strings: the order
    // in which the host's own messages lay them out.
    std::vector<Bytes> entry_urls, entry_names;
    for (const auto& e : m.entries) {
        entry_urls.push_back(NarrowWithTerminator(e.url));
        entry_names.push_back(WideOrEmpty(e.name));
    }
    Bytes password = m.desc.password ? EncodeWide(*m.desc.password) : Bytes{};
    Bytes session_name = WideOrEmpty(m.desc.session_name);
    uint32_t tables =
        uint32_t(m.entries.size() * kEntrySize + m.memberships.size() * kMembershipSize);
    VarFieldLayout layout(kSendConnectFixed + tables);
    std::vector<std::pair<uint32_t, uint32_t>> url_fields(m.entries.size()),
        data_fields(m.entries.size()), name_fields(m.entries.size());
    for (size_t i = m.entries.size(); i-- > 0;) {
        url_fields[i] = layout.Add(entry_urls[i]);
        data_fields[i] = layout.Add(m.entries[i].data);
        name_fields[i] = layout.Add(entry_names[i]);
    }
    auto app_reserved_field = layout.Add(m.desc.application_reserved_data);
    auto reserved_field = layout.Add(m.desc.reserved_data);
    auto password_field = layout.Add(password);
    auto session_field = layout.Add(session_name);
    auto reply_field = layout.Add(m.reply);

    Bytes out;
    ByteWriter w(out);
    w.U32(uint32_t(CoreType::kSendConnectInfo));
    WritePair(w, reply_field);
    w.U32(m.desc.size);
    w.U32(m.desc.flags);
    w.U32(m.desc.max_players);
    w.U32(m.desc.current_players);
    WritePair(w, session_field);
    WritePair(w, password_field);
    WritePair(w, reserved_field);
    WritePair(w, app_reserved_field);
    WriteGuid(w, m.desc.instance);
    WriteGuid(w, m.desc.application);
    w.U32(m.dpnid);
    w.U32(m.version);
    w.U32(m.version_not_used);
    w.U32(uint32_t(m.entries.size()));
    w.U32(uint32_t(m.memberships.size()));
    for (size_t i = 0; i < m.entries.size(); ++i) {
        const auto& e = m.entries[i];
        w.U32(e.dpnid);
        w.U32(e.owner);
        w.U32(e.flags);
        w.U32(e.version);
        w.U32(e.version_not_used);
        w.U32(e.dnet_version);
        WritePair(w, name_fields[i]);
        WritePair(w, data_fields[i]);
        WritePair(w, url_fields[i]);
    }
    for (const auto& mem : m.memberships) {
        w.U32(mem.player);
        w.U32(mem.group);
        w.U32(mem.version);
        w.U32(mem.version_not_used);
    }
    layout.AppendTo(w);
    return out;
}

std::optional<SendConnectInfo> DecodeSendConnectInfo(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kSendConnectInfo, body))
        return std::nullopt;
    ByteReader r(body);
    SendConnectInfo m;
    uint32_t reply_offset = r.U32(), reply_size = r.U32();
    m.desc.size = r.U32();
    m.desc.flags = r.U32();
    m.desc.max_players = r.U32();
    m.desc.current_players = r.U32();
    uint32_t session_offset = r.U32(), session_size = r.U32();
    uint32_t password_offset = r.U32(), password_size = r.U32();
    uint32_t reserved_offset = r.U32(), reserved_size = r.U32();
    uint32_t app_reserved_offset = r.U32(), app_reserved_size = r.U32();
    m.desc.instance = ReadGuid(r);
    m.desc.application = ReadGuid(r);
    m.dpnid = r.U32();
    m.version = r.U32();
    m.version_not_used = r.U32();
    uint32_t entry_count = r.U32();
    uint32_t membership_count = r.U32();
    if (!r.ok() || entry_count > kMaxEntries || membership_count > kMaxEntries)
        return std::nullopt;
    if (uint64_t(entry_count) * kEntrySize + uint64_t(membership_count) * kMembershipSize >
        r.remaining()) {
        return std::nullopt;
    }
    m.entries.resize(entry_count);
    for (auto& e : m.entries) {
        e.dpnid = r.U32();
        e.owner = r.U32();
        e.flags = r.U32();
        e.version = r.U32();
        e.version_not_used = r.U32();
        e.dnet_version = r.U32();
        uint32_t name_offset = r.U32(), name_size = r.U32();
        uint32_t data_offset = r.U32(), data_size = r.U32();
        uint32_t url_offset = r.U32(), url_size = r.U32();
        if (!r.ok() || !ReadWideField(body, name_offset, name_size, e.name) ||
            !ReadBytesField(body, data_offset, data_size, e.data) ||
            !ReadNarrowField(body, url_offset, url_size, e.url)) {
            return std::nullopt;
        }
    }
    m.memberships.resize(membership_count);
    for (auto& mem : m.memberships) {
        mem.player = r.U32();
        mem.group = r.U32();
        mem.version = r.U32();
        mem.version_not_used = r.U32();
    }
    if (!r.ok())
        return std::nullopt;
    if (!ReadBytesField(body, reply_offset, reply_size, m.reply) ||
        !ReadWideField(body, session_offset, session_size, m.desc.session_name) ||
        !ReadBytesField(body, reserved_offset, reserved_size, m.desc.reserved_data) ||
        !ReadBytesField(body, app_reserved_offset, app_reserved_size,
                        m.desc.application_reserved_data)) {
        return std::nullopt;
    }
    if (password_offset != 0) {
        std::u16string password;
        if (!ReadWideField(body, password_offset, password_size, password))
            return std::nullopt;
        m.desc.password = password;
    }
    return m;
}

Bytes Encode(const ConnectFailed& m) {
    VarFieldLayout layout(12);
    auto reply_field = layout.Add(m.reply);
    Bytes out;
    ByteWriter w(out);
    w.U32(uint32_t(CoreType::kConnectFailed));
    w.U32(uint32_t(m.result));
    WritePair(w, reply_field);
    layout.AppendTo(w);
    return out;
}

std::optional<ConnectFailed> DecodeConnectFailed(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kConnectFailed, body))
        return std::nullopt;
    ByteReader r(body);
    ConnectFailed m;
    m.result = HResult(r.U32());
    uint32_t reply_offset = r.U32(), reply_size = r.U32();
    if (!r.ok() || !ReadBytesField(body, reply_offset, reply_size, m.reply))
        return std::nullopt;
    return m;
}

Bytes EncodeAckConnectInfo() {
    Bytes out;
    ByteWriter(out).U32(uint32_t(CoreType::kAckConnectInfo));
    return out;
}

bool IsAckConnectInfo(ByteSpan message) {
    uint32_t type;
    return PeekCoreType(message, type) && type == uint32_t(CoreType::kAckConnectInfo);
}

}  // namespace dplay8
