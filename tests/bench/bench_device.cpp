// bench_device NBYTES: a fast device on 127.0.0.1 for the receiving benchmark,
// faster than any receiver it feeds. Prints its port, takes one connection,
// reads the 3-byte job, answers with the size answer for NBYTES and NBYTES
// bytes in 1 MiB writes, then ends its sending direction and reads to the end.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const unsigned long long ullSize = std::strtoull(argv[1], nullptr, 10);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sAddr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sAddr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len) != 0 || listen(fd, 1) != 0)
        return 1;
    std::printf("%u\n", ntohs(sAddr.sin_port));
    std::fflush(stdout);
    const int fdConn = accept(fd, nullptr, nullptr);
    static char pcBuf[1 << 20];
    for (ssize_t iGot = 0; iGot < 3;) {
        const ssize_t n = read(fdConn, pcBuf, 3 - static_cast<size_t>(iGot));
        if (n <= 0)
            return 1;
        iGot += n;
    }
    const int iHead = std::snprintf(pcBuf, sizeof pcBuf, "\001AOK;%llu\027", ullSize);
    if (write(fdConn, pcBuf, static_cast<size_t>(iHead)) != iHead)
        return 1;
    std::memset(pcBuf, 'x', sizeof pcBuf);
    for (unsigned long long ullLeft = ullSize; ullLeft > 0;) {
        const ssize_t n = write(fdConn, pcBuf, ullLeft < sizeof pcBuf ? ullLeft : sizeof pcBuf);
        if (n <= 0)
            return 1;
        ullLeft -= static_cast<unsigned long long>(n);
    }
    shutdown(fdConn, SHUT_WR);
    while (read(fdConn, pcBuf, sizeof pcBuf) > 0) {
    }
    return 0;
}
