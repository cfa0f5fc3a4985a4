// xscript-run: runs an XScript file through the engine and prints the variables.
//
//   xscript-run [--runs N] [--register NAME:ARGC ...] [--errors] [--max-steps N] FILE
//
// Exit codes: 0 done, 1 the file cannot be read, 2 bad command line, 4 a run reached the
// step limit.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "xscript/xscript.h"

namespace {

constexpr int kExitCannotRead = 1;
constexpr int kExitUsage = 2;
constexpr int kExitStepLimit = 4;
// Keeps a mistyped count from asking for a huge argument list.
constexpr uint64_t kMaxArgumentCount = 4096;

// The handler is a plain function, so what it needs lives here.
std::vector<std::pair<std::string, int32_t>> registeredFunctions;

int32_t HostFunction(CXScript* engine, CXSymbol symbol) {
    std::vector<CXValue> arguments;
    if (symbol.text == "print") {
        engine->PopValues(1, arguments, true);
        const std::string& text = arguments[0].Text();
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fputc('\n', stdout);
        return 0;
    }
    for (const auto& [name, argumentCount] : registeredFunctions) {
        if (name == symbol.text) {
            engine->PopValues(argumentCount, arguments, true);
            return 0;
        }
    }
    return 0;
}

void ReportSyntaxError(const char* message, int32_t line) {
    std::fprintf(stderr, "%s at line %d\n", message, line);
}

// Backslash and double quote escaped, bytes outside 0x20..0x7E as \xHH.
std::string Escape(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += ch;
        } else if (c < 0x20 || c > 0x7E) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += ch;
        }
    }
    return out;
}

void PrintVariables(const CXScript& engine) {
    std::vector<const CXVariable*> variables;
    for (uint32_t b = 0; b < CXVariableTable::kBucketCount; ++b) {
        for (const CXVariable& variable : engine.Variables().Bucket(b)) {
            variables.push_back(&variable);
        }
    }
    std::sort(variables.begin(), variables.end(),
              [](const CXVariable* a, const CXVariable* b) { return a->name < b->name; });
    for (const CXVariable* variable : variables) {
        std::printf("%s = \"%s\"\n", Escape(variable->name).c_str(),
                    Escape(variable->value.Text()).c_str());
    }
    std::printf("# loop stack: %d\n", engine.LoopStackDepth());
}

bool ParseCount(const char* text, uint64_t limit, uint64_t& value) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return false;
        }
        value = value * 10 + static_cast<uint64_t>(*p - '0');
        if (value > limit) {
            return false;
        }
    }
    return true;
}

int Usage(const char* problem) {
    std::fprintf(stderr,
                 "xscript-run: %s\n"
                 "usage: xscript-run [--runs N] [--register NAME:ARGC ...] [--errors] "
                 "[--max-steps N] FILE\n",
                 problem);
    return kExitUsage;
}

// Adds "NAME:ARGC" to the functions to register; false when the text is not of that form.
bool Register(const char* text) {
    const std::string_view nameAndCount = text != nullptr ? text : "";
    const size_t colon = nameAndCount.rfind(':');
    uint64_t count = 0;
    if (colon == std::string_view::npos || colon == 0 ||
        !ParseCount(text + colon + 1, kMaxArgumentCount, count)) {
        return false;
    }
    registeredFunctions.emplace_back(std::string(nameAndCount.substr(0, colon)),
                                     static_cast<int32_t>(count));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t runs = 1;
    uint64_t maxSteps = 0;
    bool reportErrors = false;
    const char* path = nullptr;

    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--runs") {
            if (!ParseCount(next, UINT32_MAX, runs)) {
                return Usage("--runs needs a whole number");
            }
            ++i;
        } else if (arg == "--max-steps") {
            if (!ParseCount(next, UINT64_MAX / 10, maxSteps) || maxSteps == 0) {
                return Usage("--max-steps needs a whole number above 0");
            }
            ++i;
        } else if (arg == "--register") {
            if (!Register(next)) {
                return Usage("--register needs NAME:ARGC");
            }
            ++i;
            // "--register A:1 B:2 FILE" registers both; the last argument stays the FILE.
            while (i + 2 < argc && Register(argv[i + 1])) {
                ++i;
            }
        } else if (arg == "--errors") {
            reportErrors = true;
        } else if (arg == "--help") {
            Usage("runs an XScript file and prints its variables");
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return Usage("unknown option");
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            return Usage("only one FILE");
        }
    }
    if (path == nullptr) {
        return Usage("no FILE given");
    }

    CXScript engine;
    engine.RegisterFunction("print");
    for (const auto& function : registeredFunctions) {
        engine.RegisterFunction(function.first);
    }
    const int32_t loaded = engine.LoadScript(path);
    if (loaded == -1) {
        std::fprintf(stderr, "xscript-run: cannot read %s\n", path);
        return kExitCannotRead;
    }
    if (loaded == -2) {
        std::fprintf(stderr,
                     "xscript-run: warning: %s: \"/*\" inside a comment or \"*/\" outside one; "
                     "running the tokens read before it\n",
                     path);
    }
    engine.SetFunctionHandler(&HostFunction);
    if (reportErrors) {
        engine.SetErrorHandler(&ReportSyntaxError);
    }
    engine.SetStepLimit(maxSteps);

    int exitCode = 0;
    for (uint64_t run = 1; run <= runs; ++run) {
        engine.Run();
        if (engine.StepLimitReached()) {
            std::fflush(stdout);
            std::fprintf(stderr, "xscript-run: run %llu stopped after %llu steps\n",
                         static_cast<unsigned long long>(run),
                         static_cast<unsigned long long>(maxSteps));
            exitCode = kExitStepLimit;
            break;
        }
    }
    PrintVariables(engine);
    std::fflush(stdout);
    return exitCode;
}
