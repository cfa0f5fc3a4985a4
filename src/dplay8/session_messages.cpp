#include "dplay8/session_messages.h"

#include "dplay8/var_fields.h"

namespace dplay8 {

namespace {

void Start(ByteWriter& w, CoreType type) {
    w.U32(uint32_t(type));
}

}  // namespace

Bytes Encode(const TerminateSession& m) {
    VarFieldLayout layout(8);
    auto data_field = layout.Add(m.data);
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kTerminateSession);
    WritePair(w, data_field);
    layout.AppendTo(w);
    return out;
}

std::optional<TerminateSession> DecodeTerminateSession(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kTerminateSession, body))
        return std::nullopt;
    ByteReader r(body);
    uint32_t offset = r.U32(), size = r.U32();
    TerminateSession m;
    if (!r.ok() || !ReadBytesField(body, offset, size, m.data))
        return std::nullopt;
    return m;
}

Bytes Encode(const DestroyPlayer& m) {
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kDestroyPlayer);
    w.U32(m.leaving);
    w.U32(m.version);
    w.U32(m.version_not_used);
    w.U32(m.reason);
    return out;
}

std::optional<DestroyPlayer> DecodeDestroyPlayer(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kDestroyPlayer, body))
        return std::nullopt;
    ByteReader r(body);
    DestroyPlayer m;
    m.leaving = r.U32();
    m.version = r.U32();
    m.version_not_used = r.U32();
    m.reason = r.U32();
    if (!r.ok())
        return std::nullopt;
    return m;
}

Bytes Encode(const ReqUpdateInfo& m) {
    Bytes name = WideOrEmpty(m.name);
    VarFieldLayout layout(28);
    auto data_field = layout.Add(m.data);
    auto name_field = layout.Add(name);
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kReqUpdateInfo);
    w.U32(m.context);
    w.U32(m.dpnid);
    w.U32(m.info_flags);
    WritePair(w, name_field);
    WritePair(w, data_field);
    layout.AppendTo(w);
    return out;
}

std::optional<ReqUpdateInfo> DecodeReqUpdateInfo(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kReqUpdateInfo, body))
        return std::nullopt;
    ByteReader r(body);
    ReqUpdateInfo m;
    m.context = r.U32();
    m.dpnid = r.U32();
    m.info_flags = r.U32();
    uint32_t name_offset = r.U32(), name_size = r.U32();
    uint32_t data_offset = r.U32(), data_size = r.U32();
    if (!r.ok() || !ReadWideField(body, name_offset, name_size, m.name) ||
        !ReadBytesField(body, data_offset, data_size, m.data)) {
        return std::nullopt;
    }
    return m;
}

Bytes Encode(const UpdateInfo& m) {
    Bytes name = WideOrEmpty(m.name);
    VarFieldLayout layout(40);
    auto data_field = layout.Add(m.data);
    auto name_field = layout.Add(name);
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kUpdateInfo);
    w.U32(m.context);
    w.U32(m.dpnid);
    w.U32(m.version);
    w.U32(m.version_not_used);
    w.U32(m.info_flags);
    WritePair(w, name_field);
    WritePair(w, data_field);
    w.U32(m.requesting);
    layout.AppendTo(w);
    return out;
}

std::optional<UpdateInfo> DecodeUpdateInfo(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kUpdateInfo, body))
        return std::nullopt;
    ByteReader r(body);
    UpdateInfo m;
    m.context = r.U32();
    m.dpnid = r.U32();
    m.version = r.U32();
    m.version_not_used = r.U32();
    m.info_flags = r.U32();
    uint32_t name_offset = r.U32(), name_size = r.U32();
    uint32_t data_offset = r.U32(), data_size = r.U32();
    m.requesting = r.U32();
    if (!r.ok() || !ReadWideField(body, name_offset, name_size, m.name) ||
        !ReadBytesField(body, data_offset, data_size, m.data)) {
        return std::nullopt;
    }
    return m;
}

Bytes Encode(const ReqProcessCompletion& m) {
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kReqProcessCompletion);
    w.U32(m.context);
    w.Append(m.payload);
    return out;
}

std::optional<ReqProcessCompletion> DecodeReqProcessCompletion(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kReqProcessCompletion, body))
        return std::nullopt;
    ByteReader r(body);
    ReqProcessCompletion m;
    m.context = r.U32();
    ByteSpan rest = r.Rest();
    if (!r.ok())
        return std::nullopt;
    m.payload.assign(rest.begin(), rest.end());
    return m;
}

Bytes Encode(const ProcessCompletion& m) {
    Bytes out;
    ByteWriter w(out);
    Start(w, CoreType::kProcessCompletion);
    w.U32(m.context);
    return out;
}

std::optional<ProcessCompletion> DecodeProcessCompletion(ByteSpan message) {
    ByteSpan body;
    if (!CoreBody(message, CoreType::kProcessCompletion, body))
        return std::nullopt;
    ByteReader r(body);
    ProcessCompletion m;
    m.context = r.U32();
    if (!r.ok())
        return std::nullopt;
    return m;
}

}  // namespace dplay8
