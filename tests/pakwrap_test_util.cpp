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
                         "\n";

uint32_t RefCrc(const unsigned char* puc, size_t n)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        crc ^= puc[i];
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

Bytes Noise(size_t n, uint32_t seed)
{
    Bytes b(n);
    uint32_t x = seed * 2654435761u + 1u;
    for (auto& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<unsigned char>(x >> 24);
    }
    return b;
}

Bytes Concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

Bytes Text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

void PutLE(Bytes& b, size_t pos, uint32_t v)
{
    for (size_t i = 0; i < 4; i++)
        b.at(pos + i) = static_cast<unsigned char>(v >> (8 * i));
}

void PutBE(Bytes& b, size_t pos, uint32_t v)
{
    for (size_t i = 0; i < 4; i++)
        b.at(pos + i) = static_cast<unsigned char>(v >> (8 * (3 - i)));
}

RunResult RunPakwrap(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    std::string prog = PAKWRAP_BIN;
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    EXPECT_EQ(rc, 0);
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int ws = 0;
    waitpid(pid, &ws, 0);
    return {WIFEXITED(ws) ? WEXITSTATUS(ws) : 128 + WTERMSIG(ws), out};
}

ScratchDir::ScratchDir()
{
    char tmpl[] = "/tmp/pakwrap-test-XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d == nullptr)
        std::abort();
    dir_ = d;
}

ScratchDir::~ScratchDir()
{
    std::filesystem::remove_all(dir_);
}

void ScratchDir::Write(const std::string& name, const Bytes& data) const
{
    std::ofstream f(Path(name), std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

Bytes ScratchDir::Read(const std::string& name) const
{
    std::ifstream f(Path(name), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool ScratchDir::Exists(const std::string& name) const
{
    struct stat st;
    return stat(Path(name).c_str(), &st) == 0;
}
