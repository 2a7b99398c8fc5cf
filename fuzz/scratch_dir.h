#pragma once

#include <string>
#include <string_view>

// A private directory for the inputs of path-based readers, made once per
// process and removed with everything in it at exit.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir&) = delete;
    TScratchDir& operator=(const TScratchDir&) = delete;

    // Full path of name inside the directory.
    std::string Path(const std::string& name) const { return Dir_ + "/" + name; }
    // Makes the file hold exactly bytes; aborts when it cannot.
    void Write(const std::string& name, std::string_view bytes) const;
    void Remove(const std::string& name) const;

private:
    std::string Dir_;
};

// The one scratch directory of the process.
TScratchDir& Scratch();
