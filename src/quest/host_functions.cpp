// The five host functions through which the world's XScript program reaches the NPCs and the
// person-script store: "print", "GetVar", "GetVarEx", "RunPersonScript" and "NPC_MessageMap".

#include "quest/host_functions.h"

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "npc/float_truncate.h"
#include "npc/main_object_set.h"
#include "quest/leading_number.h"
#include "quest/message_map_fill.h"
#include "quest/person_script_store.h"
#include "quest/script_engine_setup.h"
#include "xscript/xscript.h"

namespace {

// Engines and their worlds. A server has one engine; tests and tools may hold a few.
struct Binding {
    const CXScript* engine;
    HostWorld world;
};

std::mutex& BindingLock() {
    static std::mutex lock;
    return lock;
}

std::vector<Binding>& Bindings() {
    static std::vector<Binding> bindings;
    return bindings;
}

HostWorld WorldOf(const CXScript* engine) {
    std::lock_guard lock(BindingLock());
    for (const Binding& binding : Bindings()) {
        if (binding.engine == engine) {
            return binding.world;
        }
    }
    return {};
}

// Argument i of a call, in source order; an argument the stack could not give is empty.
const CXValue& Argument(const std::vector<CXValue>& arguments, size_t i) {
    static const CXValue kEmpty;
    return i < arguments.size() ? arguments[i] : kEmpty;
}

int32_t Integer(const std::vector<CXValue>& arguments, size_t i) {
    return Argument(arguments, i).ToInt();
}

// The text of an argument as far as its first zero byte.
std::string_view Text(const std::vector<CXValue>& arguments, size_t i) {
    return std::string_view(Argument(arguments, i).GetText());
}

// A 1-based number as a 0-based index; numbers below 1 give -1, which no table holds.
int32_t IndexOf(int32_t number) {
    return number > 0 ? number - 1 : -1;
}

std::vector<CXValue> Take(CXScript& engine, int32_t count) {
    std::vector<CXValue> arguments;
    // Too few values on the stack: the call goes on with the entries it got.
    engine.PopValues(count, arguments, true);
    return arguments;
}

void PushNpcProperty(CXScript& engine, const HostWorld& world,
                     const std::vector<CXValue>& arguments, int32_t endedIndex) {
    if (Text(arguments, 0) != "NPC") {
        return;
    }
    const int32_t value =
        world.npcs != nullptr
            ? NpcPropertyValue(*world.npcs, Integer(arguments, 1), Text(arguments, 2), endedIndex)
            : -1;
    engine.PushValue(CXValue(value));
}

}  // namespace

void BindHostWorld(const CXScript* engine, HostWorld world) {
    std::lock_guard lock(BindingLock());
    for (Binding& binding : Bindings()) {
        if (binding.engine == engine) {
            binding.world = world;
            return;
        }
    }
    Bindings().push_back(Binding{engine, world});
}

void UnbindHostWorld(const CXScript* engine) {
    std::lock_guard lock(BindingLock());
    auto& bindings = Bindings();
    for (auto it = bindings.begin(); it != bindings.end(); ++it) {
        if (it->engine == engine) {
            bindings.erase(it);
            return;
        }
    }
}

int32_t NpcPropertyValue(const CMainObjectSet& npcs, int32_t npc, std::string_view property,
                         int32_t endedIndex) {
    const int32_t slot = IndexOf(npc);
    if (!CMainObjectSet::ValidSlot(slot)) {
        return -1;
    }
    const CServerNPC& n = npcs.Npc(slot);
    if (property == "XPOS") {
        return TruncateToInt32(n.posX);
    }
    if (property == "YPOS") {
        return TruncateToInt32(n.posY);
    }
    if (property == "MESSAGE") {
        return n.currentMessage;
    }
    if (property == "INSTRUCTION") {
        return n.instruction + 1;
    }
    if (property == "ENDED") {
        return endedIndex >= 0 && endedIndex < kNpcScriptCount ? n.scriptEnded[endedIndex] : 0;
    }
    return -1;
}

void HostMessageMap(CMainObjectSet& npcs, int32_t npc, int32_t entry, std::string_view linkList,
                    int32_t flagCode, const char* text) {
    MessageMapFill fill;
    // Numbers end at "," and the list at "." or its end; an empty list is one number, 0.
    size_t start = 0;
    for (;;) {
        size_t end = linkList.find_first_of(",.", start);
        const bool last = end == std::string_view::npos || linkList[end] == '.';
        if (end == std::string_view::npos) {
            end = linkList.size();
        }
        if (fill.linkCount < kMessageLinkCount) {
            fill.links[fill.linkCount++] =
                StoredLink(LeadingNumber(linkList.substr(start, end - start)));
        }
        if (last) {
            break;
        }
        start = end + 1;
    }
    fill.flag = flagCode == 1 ? 1 : flagCode == 2 ? 0 : MessageMapFill::kKeepFlag;
    fill.text = text;
    FillMessageEntry(npcs, IndexOf(npc), IndexOf(entry), fill);
}

int32_t HostFunction(CXScript* engine, CXSymbol symbol) {
    if (engine == nullptr) {
        return -1;
    }
    const std::string_view name = symbol.text;
    const HostWorld world = WorldOf(engine);
    if (name == "GetVar") {
        const std::vector<CXValue> arguments = Take(*engine, 3);
        PushNpcProperty(*engine, world, arguments, 0);
    }
    if (name == "GetVarEx") {
        const std::vector<CXValue> arguments = Take(*engine, 4);
        PushNpcProperty(*engine, world, arguments, Integer(arguments, 3));
    }
    if (name.find("NPC_") != std::string_view::npos && name == "NPC_MessageMap") {
        const std::vector<CXValue> arguments = Take(*engine, 5);
        if (world.npcs != nullptr) {
            HostMessageMap(*world.npcs, Integer(arguments, 0), Integer(arguments, 1),
                           Text(arguments, 2), Integer(arguments, 3),
                           Argument(arguments, 4).GetText());
        }
    }
    if (name == "print") {
        Take(*engine, 1);  // the value is dropped: print shows nothing on the server
    }
    if (name == "RunPersonScript") {
        const std::vector<CXValue> arguments = Take(*engine, 2);
        if (world.personScripts != nullptr) {
            world.personScripts->AddFile(Argument(arguments, 0).GetText());
        }
    }
    return -1;
}
