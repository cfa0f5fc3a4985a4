#pragma once
// A fresh temporary directory for one test, removed with everything in it afterwards.

#include <filesystem>
#include <string>

namespace er_test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes a file below the directory, creating its folders.
    void Write(const std::string& relative, const std::string& content) const;
    // The whole content of a file below the directory ("" when it is missing).
    std::string Read(const std::string& relative) const;

private:
    std::filesystem::path path_;
};

// Makes a directory the working directory for the lifetime of the object, for code that
// reads and writes relative paths (the debug log, the data files).
class ScopedWorkingDir {
public:
    explicit ScopedWorkingDir(const std::filesystem::path& dir);
    ~ScopedWorkingDir();
    ScopedWorkingDir(const ScopedWorkingDir&) = delete;
    ScopedWorkingDir& operator=(const ScopedWorkingDir&) = delete;

private:
    std::filesystem::path previous_;
};

}  // namespace er_test
