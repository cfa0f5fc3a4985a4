#include "dplay8/enum_messages.h"

#include "dplay8/wide_string.h"

namespace dplay8 {

namespace {

constexpr size_t kEnumResponseFixed = 92;  // through ApplicationGUID
constexpr size_t kOffsetBase = 4;          // offsets count from the end of EnumPayload

}  // namespace

Bytes Encode(const EnumQuery& q) {
    Bytes out;
    ByteWriter w(out);
    w.U8(0);
    w.U8(kEnumQueryCommand);
    w.U16(q.enum_payload);
    if (q.application) {
        w.U8(kEnumQueryWithGuid);
        WriteGuid(w, *q.application);
    } else {
        w.U8(kEnumQueryWithoutGuid);
    }
    w.Append(q.application_payload);
    return out;
}

std::optional<EnumQuery> DecodeEnumQuery(ByteSpan datagram) {
    ByteReader r(datagram);
    EnumQuery q;
    if (r.U8() != 0 || r.U8() != kEnumQueryCommand)
        return std::nullopt;
    q.enum_payload = r.U16();
    uint8_t type = r.U8();
    if (!r.ok())
        return std::nullopt;
    if (type == kEnumQueryWithGuid) {
        q.application = ReadGuid(r);
    } else if (type != kEnumQueryWithoutGuid) {
        return std::nullopt;
    }
    ByteSpan rest = r.Rest();
    if (!r.ok())
        return std::nullopt;
    q.application_payload.assign(rest.begin(), rest.end());
    return q;
}

Bytes Encode(const EnumResponse& resp) {
    // Variable fields follow the fixed part in the order the message lists them.
    Bytes name = EncodeWide(resp.session_name);
    Bytes password = resp.password ? EncodeWide(*resp.password) : Bytes{};
    Bytes out;
    ByteWriter w(out);
    uint32_t at = uint32_t(kEnumResponseFixed - kOffsetBase);
    auto place = [&at](size_t size) -> std::pair<uint32_t, uint32_t> {
        if (size == 0)
            return {0, 0};
        uint32_t offset = at;
        at += uint32_t(size);
        return {offset, uint32_t(size)};
    };
    auto name_field = place(name.size());
    auto password_field = place(password.size());
    auto reserved_field = place(resp.reserved_data.size());
    auto app_reserved_field = place(resp.application_reserved_data.size());
    auto reply_field = place(resp.reply.size());

    w.U8(0);
    w.U8(kEnumResponseCommand);
    w.U16(resp.enum_payload);
    w.U32(reply_field.first);
    w.U32(reply_field.second);
    w.U32(resp.application_desc_size);
    w.U32(resp.flags);
    w.U32(resp.max_players);
    w.U32(resp.current_players);
    w.U32(name_field.first);
    w.U32(name_field.second);
    w.U32(password_field.first);
    w.U32(password_field.second);
    w.U32(reserved_field.first);
    w.U32(reserved_field.second);
    w.U32(app_reserved_field.first);
    w.U32(app_reserved_field.second);
    WriteGuid(w, resp.instance);
    WriteGuid(w, resp.application);
    w.Append(name);
    w.Append(password);
    w.Append(resp.reserved_data);
    w.Append(resp.application_reserved_data);
    w.Append(resp.reply);
    return out;
}

std::optional<EnumResponse> DecodeEnumResponse(ByteSpan datagram) {
    ByteReader r(datagram);
    EnumResponse resp;
    if (r.U8() != 0 || r.U8() != kEnumResponseCommand)
        return std::nullopt;
    resp.enum_payload = r.U16();
    uint32_t reply_offset = r.U32();
    uint32_t reply_size = r.U32();
    resp.application_desc_size = r.U32();
    resp.flags = r.U32();
    resp.max_players = r.U32();
    resp.current_players = r.U32();
    uint32_t name_offset = r.U32();
    uint32_t name_size = r.U32();
    uint32_t password_offset = r.U32();
    uint32_t password_size = r.U32();
    uint32_t reserved_offset = r.U32();
    uint32_t reserved_size = r.U32();
    uint32_t app_reserved_offset = r.U32();
    uint32_t app_reserved_size = r.U32();
    resp.instance = ReadGuid(r);
    resp.application = ReadGuid(r);
    if (!r.ok())
        return std::nullopt;

    ByteSpan base = datagram.subspan(kOffsetBase);
    ByteSpan field;
    if (!SliceField(base, reply_offset, reply_size, field))
        return std::nullopt;
    resp.reply.assign(field.begin(), field.end());
    if (!SliceField(base, name_offset, name_size, field) || !DecodeWide(field, resp.session_name)) {
        return std::nullopt;
    }
    if (!SliceField(base, password_offset, password_size, field))
        return std::nullopt;
    if (password_offset != 0) {
        std::u16string password;
        if (!DecodeWide(field, password))
            return std::nullopt;
        resp.password = password;
    }
    if (!SliceField(base, reserved_offset, reserved_size, field))
        return std::nullopt;
    resp.reserved_data.assign(field.begin(), field.end());
    if (!SliceField(base, app_reserved_offset, app_reserved_size, field))
        return std::nullopt;
    resp.application_reserved_data.assign(field.begin(), field.end());
    return resp;
}

}  // namespace dplay8
