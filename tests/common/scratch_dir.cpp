#include "scratch_dir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

ScratchDir::ScratchDir()
{
    char pcTemplate[] = "/tmp/tools-test-XXXXXX";
    if (mkdtemp(pcTemplate) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_dir = pcTemplate;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_dir, ec);
}

std::string ScratchDir::Write(const std::string& name, const std::string& data) const
{
    std::ofstream(Path(name), std::ios::binary) << data;
    return Path(name);
}

std::string ScratchDir::Write(const std::string& name, const std::vector<unsigned char>& data) const
{
    return Write(name, std::string(data.begin(), data.end()));
}
