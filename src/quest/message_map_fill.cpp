#include "quest/message_map_fill.h"

#include <cstring>
#include <mutex>

#include "npc/main_object_set.h"

int8_t StoredLink(int32_t written) {
    return static_cast<int8_t>(static_cast<uint8_t>(static_cast<uint32_t>(written) - 1u));
}

bool FillMessageEntry(CMainObjectSet& npcs, int32_t slot, int32_t entry,
                      const MessageMapFill& fill) {
    if (!CMainObjectSet::ValidSlot(slot) || entry < 0 || entry >= kNpcMessageMapSize) {
        return false;
    }
    const char* text = fill.text != nullptr ? fill.text : "";
    const size_t length = strnlen(text, kMessageTextSize - 1);
    const int32_t count = fill.linkCount < 0                   ? 0
                          : fill.linkCount > kMessageLinkCount ? kMessageLinkCount
                                                               : fill.linkCount;

    std::lock_guard lock(npcs.messageMapLock);
    MessageMapEntry& target = npcs.Npc(slot).messageMap[entry];
    for (int32_t i = 0; i < count; ++i) {
        target.links[i] = fill.links[i];
    }
    target.linkCount = static_cast<int8_t>(count);
    if (fill.flag != MessageMapFill::kKeepFlag) {
        target.flag = static_cast<uint8_t>(fill.flag);
    }
    // The whole buffer is rewritten, so nothing of a longer earlier text stays behind the
    // terminating zero.
    std::memset(target.text, 0, sizeof target.text);
    std::memcpy(target.text, text, length);
    return true;
}
