#include "xscript/tables.h"

namespace xscript {

uint32_t HashName(std::string_view name) {
    uint32_t h = 5381;
    for (const char c : name) {
        h = h * 33 + static_cast<unsigned char>(c);
    }
    return h;
}

}  // namespace xscript

CXVariable* CXVariableTable::Find(std::string_view name) {
    for (CXVariable& entry : buckets_[BucketOf(name)]) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

const CXVariable* CXVariableTable::Find(std::string_view name) const {
    for (const CXVariable& entry : buckets_[BucketOf(name)]) {
        if (entry.name == name) {
            return &entry;
        }
    }
    return nullptr;
}

void CXVariableTable::Set(std::string_view name, const CXValue& value) {
    if (CXVariable* entry = Find(name)) {
        entry->value = value;
        return;
    }
    buckets_[BucketOf(name)].push_back(CXVariable{value, std::string(name)});
}

size_t CXVariableTable::Count() const {
    size_t count = 0;
    for (const auto& bucket : buckets_) {
        count += bucket.size();
    }
    return count;
}
