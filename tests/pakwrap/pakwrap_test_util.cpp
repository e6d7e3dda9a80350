#include "pakwrap_test_util.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "pakwrap_version.h"

extern char** environ;

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

namespace {

std::vector<char*> CStrings(std::vector<std::string>& v)
{
    std::vector<char*> vPtr;
    for (std::string& s : v)
        vPtr.push_back(s.data());
    vPtr.push_back(nullptr);
    return vPtr;
}

}  // namespace

RunResult RunArgs(const std::vector<std::string>& args)
{
    std::string sPath = PakwrapPath();
    std::vector<std::string> vArgs = {sPath};
    vArgs.insert(vArgs.end(), args.begin(), args.end());
    std::vector<char*> vArgv = CStrings(vArgs);

    int afdPipe[2];
    EXPECT_EQ(pipe(afdPipe), 0);
    posix_spawn_file_actions_t sActions;
    posix_spawn_file_actions_init(&sActions);
    posix_spawn_file_actions_adddup2(&sActions, afdPipe[1], 1);
    posix_spawn_file_actions_addclose(&sActions, afdPipe[0]);
    pid_t pid = 0;
    int iSpawn = posix_spawn(&pid, sPath.c_str(), &sActions, nullptr, vArgv.data(), environ);
    posix_spawn_file_actions_destroy(&sActions);
    close(afdPipe[1]);
    EXPECT_EQ(iSpawn, 0);
    RunResult sResult;
    char pcBuf[4096];
    ssize_t n;
    while ((n = read(afdPipe[0], pcBuf, sizeof pcBuf)) > 0)
        sResult.out.append(pcBuf, static_cast<std::size_t>(n));
    close(afdPipe[0]);
    int iWait = 0;
    waitpid(pid, &iWait, 0);
    sResult.bExited = WIFEXITED(iWait);
    sResult.iStatus = sResult.bExited ? WEXITSTATUS(iWait) : WTERMSIG(iWait);
    EXPECT_TRUE(sResult.bExited) << "pakwrap ended by signal " << sResult.iStatus;
    return sResult;
}

std::string PakwrapPath()
{
    return PAKWRAP_BIN;
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
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

Bytes Noise(std::size_t n, std::uint32_t ulSeed)
{
    Bytes data(n);
    std::uint32_t ulX = ulSeed * 2654435761u + 1u;
    for (unsigned char& c : data) {
        ulX ^= ulX << 13;
        ulX ^= ulX >> 17;
        ulX ^= ulX << 5;
        c = static_cast<unsigned char>(ulX >> 24);
    }
    return data;
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
    return Concat({Text(std::string(tag, 3)), Bytes(145, 0), Noise(payload, seed)});
}

Bytes Sh2Image(std::uint32_t headerLen, std::size_t size, std::uint32_t seed)
{
    Bytes img = Noise(size, seed);
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
