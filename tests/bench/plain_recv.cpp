// plain_recv PORT NBYTES FILE: connects to 127.0.0.1:PORT, sends "job", and
// copies the next NBYTES bytes it receives into FILE in reads of up to 1 MiB.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&sAddr), sizeof sAddr) != 0 || write(fd, "job", 3) != 3)
        return 1;
    int fdOut = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    unsigned long long ullLeft = std::strtoull(argv[2], nullptr, 10);
    static char pcBuf[1 << 20];
    while (ullLeft > 0) {
        ssize_t n = read(fd, pcBuf, ullLeft < sizeof pcBuf ? ullLeft : sizeof pcBuf);
        if (n <= 0 || write(fdOut, pcBuf, static_cast<size_t>(n)) != n)
            return 1;
        ullLeft -= static_cast<unsigned long long>(n);
    }
    return close(fdOut) == 0 ? 0 : 1;
}
