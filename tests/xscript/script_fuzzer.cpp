// libFuzzer harness: arbitrary bytes as a script file, loaded and run a few times with a step
// limit, through host functions that take and push values like the server's do.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "xscript/xscript.h"

namespace {

int32_t FuzzHost(CXScript* engine, CXSymbol symbol) {
    std::vector<CXValue> arguments;
    // Argument counts of the server's functions; "GetVar" pushes a result.
    if (symbol.text == "GetVarEx") {
        engine->PopValues(4, arguments, true);
        engine->PushValue(CXValue(arguments[1].ToInt()));
    } else if (symbol.text == "GetVar") {
        engine->PopValues(3, arguments, true);
        engine->PushValue(CXValue(arguments[0].Text()));
    } else if (symbol.text == "RunPersonScript") {
        engine->PopValues(2, arguments, true);
    } else if (symbol.text == "NPC_MessageMap") {
        engine->PopValues(5, arguments, false);
    } else {
        engine->PopValues(1, arguments, true);
    }
    return -1;
}

void IgnoreError(const char*, int32_t) {}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CXScript engine;
    for (const char* name : {"print", "GetVar", "GetVarEx", "RunPersonScript", "NPC_MessageMap"}) {
        engine.RegisterFunction(name);
    }
    engine.LoadScriptText(bytes);
    engine.SetFunctionHandler(&FuzzHost);
    engine.SetErrorHandler(&IgnoreError);
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
