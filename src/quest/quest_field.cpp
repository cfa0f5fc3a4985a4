#include "quest/quest_field.h"

#include <cstring>

#include "quest/leading_number.h"

bool ReadField(std::FILE* file, char* buffer) {
    std::memset(buffer, 0, kQuestFieldSize);
    int length = 0;
    bool readAny = false;
    for (;;) {
        const int c = std::getc(file);
        if (c == EOF) {
            break;
        }
        readAny = true;
        if (c == 0 || c == kQuestFieldEnd) {
            break;
        }
        if (length < kQuestFieldSize - 1) {
            buffer[length++] = static_cast<char>(FlipQuestByte(static_cast<unsigned char>(c)));
        }
    }
    return readAny;
}

int32_t ReadNumberField(std::FILE* file) {
    char buffer[kQuestFieldSize];
    ReadField(file, buffer);
    return LeadingNumber(buffer);
}
