// bench_sink tcp|udp NBYTES: a fast receiver on 127.0.0.1 for the sending
// benchmarks. Prints its port, then takes one TCP connection and reads it to
// its end in 1 MiB reads, or reads datagrams until NBYTES have come or the
// sender has been silent for 2 s. Prints the count received.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 3)
        return 2;
    const bool bTcp = std::strcmp(argv[1], "tcp") == 0;
    const unsigned long long ullWant = std::strtoull(argv[2], nullptr, 10);
    int fd = socket(AF_INET, bTcp ? SOCK_STREAM : SOCK_DGRAM, 0);
    // TCP keeps the system's default receive buffer, as any peer gets it; UDP
    // gets a large one so that fewer datagrams are dropped (a sender never waits
    // for it).
    if (!bTcp) {
        int iSize = 8 << 20;
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &iSize, sizeof iSize);
    }
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sAddr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&sAddr), len) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len) != 0 || (bTcp && listen(fd, 1) != 0))
        return 1;
    std::printf("%u\n", ntohs(sAddr.sin_port));
    std::fflush(stdout);
    if (bTcp)
        fd = accept(fd, nullptr, nullptr);
    static char pcBuf[1 << 20];
    unsigned long long ullGot = 0;
    for (;;) {
        pollfd sPoll = {fd, POLLIN, 0};
        if (!bTcp && (ullGot >= ullWant || poll(&sPoll, 1, 2000) <= 0))
            break;
        const ssize_t n = read(fd, pcBuf, sizeof pcBuf);
        if (n <= 0)
            break;
        ullGot += static_cast<unsigned long long>(n);
    }
    std::printf("%llu\n", ullGot);
    return 0;
}
