// The engine interface: creation, registration, handlers and the calling convention that
// host functions share with the operators (PopValues, PushValue).

#include "xscript/xscript.h"

namespace {
constexpr size_t kInitialStackRoom = 64;
}

CXScript::CXScript() : precedence_(xscript::BuildPrecedenceTable()), errors_{"syntax error"} {
    loops_.reserve(kInitialStackRoom);
    operators_.reserve(kInitialStackRoom);
    values_.reserve(kInitialStackRoom);
    for (const xscript::BuiltInSymbol& symbol : xscript::kBuiltInSymbols) {
        symbols_.emplace_back(symbol.text, symbol.code);
    }
}

int32_t CXScript::RegisterFunction(std::string_view name) {
    symbols_.emplace_back(name);
    return 0;
}

int32_t CXScript::SetFunctionHandler(XFunctionHandler handler) {
    functionHandler_ = handler;
    return 0;
}

int32_t CXScript::SetErrorHandler(XErrorHandler handler) {
    errorHandler_ = handler;
    return 0;
}

int32_t CXScript::PopValues(int32_t n, std::vector<CXValue>& list, bool resolve) {
    if (n < 0) {
        n = 0;
    }
    // The list's entries are reused; the ones not reached on failure are emptied.
    list.resize(static_cast<size_t>(n));
    for (int32_t i = n - 1; i >= 0; --i) {
        if (values_.empty()) {
            for (int32_t j = 0; j <= i; ++j) {
                list[static_cast<size_t>(j)] = CXValue();
            }
            return -1;
        }
        CXValue& entry = list[static_cast<size_t>(i)];
        entry = std::move(values_.back());
        values_.pop_back();
        if (resolve && entry.Flag() == 1) {
            if (const CXVariable* variable = variables_.Find(entry.Text())) {
                entry.SetText(variable->value.Text());
                entry.SetFlag(0);
            }
        }
    }
    return 0;
}

int32_t CXScript::PushValue(const CXValue& value) {
    MakeRoom(values_);
    values_.push_back(value);
    return 0;
}

const CXVariable* CXScript::GetVariable(std::string_view name) const {
    return variables_.Find(name);
}

int32_t CXScript::SetVariable(std::string_view name, const CXValue& value) {
    variables_.Set(name, value);
    return 0;
}

int32_t CXScript::ResetState() {
    cursor_ = 0;
    operators_.clear();
    values_.clear();
    variables_ = CXVariableTable();
    return 0;
}

int32_t CXScript::FindSymbol(std::string_view text) const {
    for (size_t i = 0; i < symbols_.size(); ++i) {
        if (symbols_[i].text == text) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}
