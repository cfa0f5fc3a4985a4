#include "dplay8/var_fields.h"

#include "dplay8/wide_string.h"

namespace dplay8 {

std::pair<uint32_t, uint32_t> VarFieldLayout::Add(ByteSpan bytes) {
    if (bytes.empty())
        return {0, 0};
    uint32_t offset = next_;
    next_ += uint32_t(bytes.size());
    fields_.push_back(bytes);
    return {offset, uint32_t(bytes.size())};
}

void VarFieldLayout::AppendTo(ByteWriter& w) const {
    for (ByteSpan f : fields_)
        w.Append(f);
}

bool ReadBytesField(ByteSpan base, uint32_t offset, uint32_t size, Bytes& out) {
    ByteSpan field;
    if (!SliceField(base, offset, size, field))
        return false;
    out.assign(field.begin(), field.end());
    return true;
}

bool ReadWideField(ByteSpan base, uint32_t offset, uint32_t size, std::u16string& out) {
    ByteSpan field;
    return SliceField(base, offset, size, field) && DecodeWide(field, out);
}

bool ReadNarrowField(ByteSpan base, uint32_t offset, uint32_t size, std::string& out) {
    ByteSpan field;
    if (!SliceField(base, offset, size, field))
        return false;
    out.clear();
    for (uint8_t c : field) {
        if (c == 0)
            break;
        out.push_back(char(c));
    }
    return true;
}

Bytes NarrowWithTerminator(const std::string& text) {
    if (text.empty())
        return {};
    Bytes out(text.begin(), text.end());
    out.push_back(0);
    return out;
}

Bytes WideOrEmpty(const std::u16string& text) {
    if (text.empty())
        return {};
    return EncodeWide(text);
}

void WritePair(ByteWriter& w, std::pair<uint32_t, uint32_t> pair) {
    w.U32(pair.first);
    w.U32(pair.second);
}

}  // namespace dplay8
