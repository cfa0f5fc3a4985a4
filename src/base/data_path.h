#pragma once
// Data files are named with Windows-style paths ("npc\chars.npc") throughout the server, as
// in the world's own files; they are converted only at the moment a file is opened.

#include <cstdio>
#include <string>

// "npc\chars.npc" -> "npc/chars.npc".
std::string DataPath(const char* windowsPath);

// fopen of a Windows-style path relative to the working directory.
std::FILE* OpenDataFile(const char* windowsPath, const char* mode);
