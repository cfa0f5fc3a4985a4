// libFuzzer harness: arbitrary bytes as a script file, loaded and run a few times with a step
// limit, through host functions that take and push values like the server's do.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "xscript/xscript.h"

namespace {

int32_t FuzzHost(CXScript* engine, CXSymbol symbol) {
    // Argument counts of the server's functions; "GetVar" and "GetVarEx" push a result.
    const std::string& name = symbol.text;
    const int32_t count = name == "GetVarEx"          ? 4
                          : name == "GetVar"          ? 3
                          : name == "RunPersonScript" ? 2
                          : name == "NPC_MessageMap"  ? 5
                                                      : 1;
    std::vector<CXValue> arguments;
    engine->PopValues(count, arguments, name != "NPC_MessageMap");
    if (name == "GetVarEx") {
        engine->PushValue(CXValue(arguments[1].ToInt()));
    } else if (name == "GetVar") {
        engine->PushValue(CXValue(arguments[0].Text()));
    }
    return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CXScript engine;
    for (const char* name : {"print", "GetVar", "GetVarEx", "RunPersonScript", "NPC_MessageMap"}) {
        engine.RegisterFunction(name);
    }
    engine.LoadScriptText(bytes);
    engine.SetFunctionHandler(&FuzzHost);
    engine.SetErrorHandler([](const char*, int32_t) {});
    engine.SetStepLimit(5000);
    for (int run = 0; run < 3; ++run) {
        engine.Run();
    }
    engine.ResetState();
    engine.Run();

    // The tokenizer on its own, with small buffers that cut tokens short.
    char buffer[8];
    int32_t code = 0;
    const std::string_view line = bytes.substr(0, 256);
    for (int32_t start = 0, steps = 0;
         (start = engine.Tokenize(line, start, buffer, 1 + static_cast<int32_t>(size % 8), code)) !=
             0 &&
         steps < 1000;
         ++steps) {
    }
    return 0;
}
