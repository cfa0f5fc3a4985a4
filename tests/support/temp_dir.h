#pragma once
// A fresh temporary directory for one test, removed with everything in it afterwards.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace er_test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "er-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() { std::filesystem::remove_all(path_, ignored_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    void Write(const std::string& relative, const std::string& content) const {  // makes folders
        std::filesystem::create_directories((path_ / relative).parent_path());
        std::ofstream(path_ / relative, std::ios::binary) << content;
    }
    std::string Read(const std::string& relative) const {  // "" when the file is missing
        std::ostringstream content;
        content << std::ifstream(path_ / relative, std::ios::binary).rdbuf();
        return content.str();
    }

private:
    std::filesystem::path path_;
    std::error_code ignored_;
};

// The working directory while the object lives, for code that uses relative paths.
class ScopedWorkingDir {
public:
    explicit ScopedWorkingDir(const std::filesystem::path& dir) {
        std::filesystem::current_path(dir);
    }
    ~ScopedWorkingDir() { std::filesystem::current_path(previous_, ignored_); }

private:
    std::filesystem::path previous_ = std::filesystem::current_path();
    std::error_code ignored_;
};

}  // namespace er_test
