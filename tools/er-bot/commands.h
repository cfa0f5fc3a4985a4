#pragma once
// The three commands of er-bot; each returns the program's exit code.

#include "options.h"

namespace er_bot {

int RunEnum(const EnumOptions& options);
int RunJoin(const JoinOptions& options);
int RunLoad(const LoadOptions& options);

}  // namespace er_bot
