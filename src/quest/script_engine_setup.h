#pragma once
// The XScript engine as the server sets it up: the host functions through which a script
// reaches the world, registered before the script "script\XScript.txt" is loaded.

#include <cstdint>
#include <memory>

#include "xscript/tables.h"

class CXScript;

// The host functions, in the order they are registered.
constexpr const char* kHostFunctionNames[] = {"print", "GetVar", "GetVarEx", "RunPersonScript",
                                              "NPC_MessageMap"};

// Tokens one run of the world's XScript program may take. A run takes a few thousand tokens;
// a loop whose condition never turns false would otherwise stop the game tick for good.
constexpr uint64_t kScriptEngineStepLimit = 1000000;

// Creates the engine, registers the host functions, loads the script file (a missing file
// leaves an engine that does nothing), installs HostFunction and limits each run to
// kScriptEngineStepLimit tokens.
std::unique_ptr<CXScript> SetUpScriptEngine(const char* scriptFile);

// The engine's one function handler (host_functions.cpp). Tells the host functions apart by
// the called name, takes each one's arguments off the value stack and acts on the world the
// engine is bound to (BindHostWorld); it always gives -1, which the engine ignores.
int32_t HostFunction(CXScript* engine, CXSymbol symbol);
