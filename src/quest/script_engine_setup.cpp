#include "quest/script_engine_setup.h"

#include "base/data_path.h"
#include "xscript/xscript.h"

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
