// A fresh temporary HOME, set in the environment and removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

class ScratchHome {
public:
    ScratchHome() {
        char pattern[] = "/tmp/perivane-home-XXXXXX";
        path_ = mkdtemp(pattern);
        if (const char* old = getenv("HOME")) old_ = old;
        setenv("HOME", path_.c_str(), 1);
    }
    ~ScratchHome() {
        if (old_) setenv("HOME", old_->c_str(), 1);
        else unsetenv("HOME");
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchHome(const ScratchHome&) = delete;
    ScratchHome& operator=(const ScratchHome&) = delete;

    const std::string& path() const { return path_; }
    std::string preferences() const { return path_ + "/Library/Preferences"; }
    std::string domainFile(const std::string& name) const { return preferences() + "/" + name + ".plist"; }
    void writeDomainFile(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories(preferences());
        std::ofstream(domainFile(name), std::ios::binary) << bytes;
    }

private:
    std::string path_;
    std::optional<std::string> old_;
};

inline std::string readWholeFile(const std::string& path) {
    std::ostringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}
