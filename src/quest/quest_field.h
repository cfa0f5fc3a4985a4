#pragma once
// Fields of a quest file. A field is a run of bytes ended by '~' or a zero byte; each content
// byte is stored with its top bit flipped, so the field text 12 is the bytes 0xB1 0xB2 0x7E.
// All fields are texts; numbers are decimal texts.

#include <cstdint>
#include <cstdio>

constexpr int kQuestFieldSize = 500;  // bytes of the field buffer, terminating zero included
constexpr char kQuestFieldEnd = '~';

// Flips the top bit of one byte; the same operation stores and restores a field byte.
constexpr unsigned char FlipQuestByte(unsigned char byte) {
    return static_cast<unsigned char>(byte ^ 0x80u);
}

// Reads the next field into buffer (kQuestFieldSize bytes), cleared first and always
// terminated. The terminator is consumed. A field keeps at most kQuestFieldSize - 1 bytes;
// the bytes of a longer field beyond those are read past up to its terminator, so one field
// of the file is always one field here. Returns false, with an empty buffer, when the file
// was already at its end (nothing was read).
bool ReadField(std::FILE* file, char* buffer);

// Reads the next field as a number; a field without leading digits, or none at all, is 0.
int32_t ReadNumberField(std::FILE* file);
