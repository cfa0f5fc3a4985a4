#include "base/data_path.h"

std::string DataPath(const char* windowsPath) {
    std::string path = windowsPath != nullptr ? windowsPath : "";
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

std::FILE* OpenDataFile(const char* windowsPath, const char* mode) {
    return std::fopen(DataPath(windowsPath).c_str(), mode);
}
