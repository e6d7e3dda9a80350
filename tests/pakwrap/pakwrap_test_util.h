// Helpers for the pakwrap suites: running the real binary as a user would
// (the common runner's RunArgs), a scratch directory, whole-file reads,
// hand-built inputs and a bit-by-bit reference CRC.
#pragma once

#include "run_process.h"
#include "scratch_dir.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

std::string PakwrapPath();

// The help text that a rejected command line shows.
extern const char kHelpText[];

// The whole file (the common ReadFile) as bytes.
Bytes ReadBytes(const std::string& path);
bool FileExists(const std::string& path);

// Bitwise CRC-32 (reflected 0xEDB88320, initial all ones, final inversion),
// written independently of the table-driven routine under test.
std::uint32_t RefCrc(const unsigned char* puc, std::size_t n);
inline std::uint32_t RefCrc(const Bytes& data)
{
    return RefCrc(data.data(), data.size());
}

// Deterministic pseudo-random bytes (the common Noise).
Bytes NoiseBytes(std::size_t n, std::uint32_t ulSeed);
Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& s);
// An unstamped image: a tagged one (SH3 unless told) with its 148-byte header
// zero, or an SH2 one with 0x01 first and its header length at 4 to 7.
Bytes Sh3Image(std::size_t payload, std::uint32_t seed, const char* tag = "SH3");
Bytes Sh2Image(std::uint32_t headerLen, std::size_t size, std::uint32_t seed);
// The four bytes of ulValue at uPos, little- or big-endian.
void PutLE(Bytes& data, std::size_t uPos, std::uint32_t ulValue);
void PutBE(Bytes& data, std::size_t uPos, std::uint32_t ulValue);
