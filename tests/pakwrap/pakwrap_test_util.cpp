#include "pakwrap_test_util.h"

#include <sys/stat.h>

#include "pakwrap_version.h"

const char kHelpText[] = "pakwrap V" PAKWRAP_VERSION "\n"
                         "Syntax error. Syntax: pakwrap.exe infile outfile [/f/s/a/l][/header...] \n"
                         "infile    - file to be converted.\n"
                         "outfile   - destination file.\n"
                         "/f        - generate font header (CRC only).\n"
                         "/s[:Addr] - generate firmware header.\n"
                         "/a        - generate atmel header.\n"
                         "/l        - generate slic header.\n"
                         "/m=file   - Save in file header.\n"
                         "/r /m=file- Add FU----rN for restart\n"
                         "/header   - generic Header.\n"
                         "\n"
                         "Header format: /SH3:0:1:2:\"String\"\n"
                         "\n"
                         "Verify: pakwrap.exe infile /v (checks a converted file, writes nothing)\n";

std::string ProgramUnderTest()
{
    return PAKWRAP_BIN;
}

std::string PakwrapPath()
{
    return PAKWRAP_BIN;
}

Bytes ReadBytes(const std::string& path)
{
    return Text(ReadFile(path));
}

bool FileExists(const std::string& path)
{
    struct stat sStat;
    return stat(path.c_str(), &sStat) == 0;
}

std::uint32_t RefCrc(const unsigned char* puc, std::size_t n)
{
    std::uint32_t ulCrc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; i++) {
        ulCrc ^= puc[i];
        for (int iBit = 0; iBit < 8; iBit++)
            ulCrc = (ulCrc & 1u) ? (ulCrc >> 1) ^ 0xEDB88320u : ulCrc >> 1;
    }
    return ~ulCrc;
}

Bytes NoiseBytes(std::size_t n, std::uint32_t ulSeed)
{
    return Text(Noise(n, ulSeed));
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

Bytes Sh3Image(std::size_t payload, std::uint32_t seed, const char* tag)
{
    return Concat({Text(std::string(tag, 3)), Bytes(145, 0), NoiseBytes(payload, seed)});
}

Bytes Sh2Image(std::uint32_t headerLen, std::size_t size, std::uint32_t seed)
{
    Bytes img = NoiseBytes(size, seed);
    img[0] = 0x01;
    PutLE(img, 4, headerLen);
    return img;
}

void PutLE(Bytes& data, std::size_t uPos, std::uint32_t ulValue)
{
    for (std::size_t i = 0; i < 4; i++)
        data.at(uPos + i) = static_cast<unsigned char>(ulValue >> (8 * i));
}

void PutBE(Bytes& data, std::size_t uPos, std::uint32_t ulValue)
{
    for (std::size_t i = 0; i < 4; i++)
        data.at(uPos + i) = static_cast<unsigned char>(ulValue >> (8 * (3 - i)));
}
