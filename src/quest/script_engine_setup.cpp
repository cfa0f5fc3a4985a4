#include "quest/script_engine_setup.h"

#include <string_view>
#include <vector>

#include "shell/data_path.h"
#include "xscript/xscript.h"

namespace {

// How many arguments each host function takes; 0 for a name that is none of them.
int32_t ArgumentCount(std::string_view name) {
    if (name == "GetVar") {
        return 3;
    }
    if (name == "GetVarEx") {
        return 4;
    }
    if (name == "NPC_MessageMap") {
        return 5;
    }
    if (name == "print") {
        return 1;
    }
    if (name == "RunPersonScript") {
        return 2;
    }
    return 0;
}

}  // namespace

std::unique_ptr<CXScript> SetUpScriptEngine(const char* scriptFile) {
    auto engine = std::make_unique<CXScript>();
    for (const char* name : kHostFunctionNames) {
        engine->RegisterFunction(name);
    }
    engine->LoadScript(DataPath(scriptFile).c_str());
    engine->SetFunctionHandler(&HostFunction);
    engine->SetStepLimit(kScriptEngineStepLimit);
    return engine;
}

int32_t HostFunction(CXScript* engine, CXSymbol symbol) {
    const int32_t count = ArgumentCount(symbol.text);
    if (engine != nullptr && count > 0) {
        std::vector<CXValue> arguments;
        engine->PopValues(count, arguments, true);
    }
    return -1;
}
