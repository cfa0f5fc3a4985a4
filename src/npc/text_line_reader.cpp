#include "npc/text_line_reader.h"

bool ReadTextLine(std::FILE* file, char* buffer, int size) {
    if (buffer == nullptr || size < 1) {
        return false;
    }
    int length = 0;
    while (length < size - 1) {
        int c = std::getc(file);
        if (c == EOF) {
            break;
        }
        if (c == '\r') {
            const int next = std::getc(file);
            if (next == '\n') {
                c = '\n';
            } else if (next != EOF) {
                std::ungetc(next, file);
            }
        }
        buffer[length++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[length] = '\0';
    return length > 0;
}
