// Decoding any bytes and encoding the text again must give the same bytes.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "quest/quest_text_form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string again;
    std::string error;
    if (!EncodeQuest(DecodeQuest(bytes), again, error) || again != bytes) {
        std::abort();
    }
    return 0;
}
