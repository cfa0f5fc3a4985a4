#pragma once
// Line reads of the world's text files into a fixed buffer, the way those files have always
// been read: at most size - 1 bytes per read, stopping after an end-of-line, so a longer line
// arrives as several reads. A CR LF pair reads as one LF, so files written with either line
// end read alike and "\r\n" counts as one byte against the limit.

#include <cstdio>

// Reads the next piece of a line into buffer (size bytes, size >= 2) and terminates it.
// Returns false, with an empty buffer, when nothing was left to read.
bool ReadTextLine(std::FILE* file, char* buffer, int size);
