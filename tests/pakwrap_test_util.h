// Helpers for the pakwrap suites: a scratch directory, whole-file I/O, a
// bit-by-bit reference CRC, and running the real binary.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// Bitwise CRC-32 (reflected 0xEDB88320, initial all ones, final inversion),
// written independently of the table-driven routine under test.
uint32_t RefCrc(const unsigned char* puc, size_t n);
inline uint32_t RefCrc(const Bytes& b)
{
    return RefCrc(b.data(), b.size());
}

// Deterministic pseudo-random bytes.
Bytes Noise(size_t n, uint32_t seed);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);
void PutLE(Bytes& b, size_t pos, uint32_t v);
void PutBE(Bytes& b, size_t pos, uint32_t v);

struct RunResult {
    int status;
    std::string out;
};

// Runs the pakwrap binary with the given arguments and collects its output.
RunResult RunPakwrap(const std::vector<std::string>& args);

// A fresh directory for one test, removed with everything in it afterwards.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void Write(const std::string& name, const Bytes& data) const;
    Bytes Read(const std::string& name) const;
    bool Exists(const std::string& name) const;

private:
    std::string dir_;
};

extern const char kHelpText[];
