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
    void Write(const std::string& relative, const std::string& content) const;  // makes folders
    std::string Read(const std::string& relative) const;  // "" when the file is missing

private:
    std::filesystem::path path_;
};

// The working directory while the object lives, for code that uses relative paths.
class ScopedWorkingDir {
public:
    explicit ScopedWorkingDir(const std::filesystem::path& dir);
    ~ScopedWorkingDir();

private:
    std::filesystem::path previous_;
};

}  // namespace er_test
