// A fresh directory for one test, removed with its contents afterwards; both
// programs' suites use it.
#pragma once

#include <string>
#include <vector>

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Dir() const { return m_dir; }
    std::string Path(const std::string& name) const { return m_dir + "/" + name; }
    // Writes a file of the directory; its path.
    std::string Write(const std::string& name, const std::string& data) const;
    std::string Write(const std::string& name, const std::vector<unsigned char>& data) const;

private:
    std::string m_dir;
};
