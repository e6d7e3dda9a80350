#include "fake_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

void Check(bool bOk, const char* pcWhat)
{
    if (!bOk)
        throw std::runtime_error(std::string(pcWhat) + ": " + std::strerror(errno));
}

// A socket bound to 127.0.0.1 on an ephemeral port; *pusPort gets the port.
int BoundSocket(int iType, std::uint16_t* pusPort)
{
    int fd = socket(AF_INET, iType | SOCK_CLOEXEC, 0);
    Check(fd >= 0, "socket");
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Check(bind(fd, reinterpret_cast<sockaddr*>(&sAddr), sizeof sAddr) == 0, "bind");
    socklen_t len = sizeof sAddr;
    Check(getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len) == 0, "getsockname");
    *pusPort = ntohs(sAddr.sin_port);
    return fd;
}

}  // namespace

FakeDevice::FakeDevice()
{
    m_fdListen = BoundSocket(SOCK_STREAM, &m_usTcpPort);
    Check(listen(m_fdListen, 16) == 0, "listen");
    m_fdUdp = BoundSocket(SOCK_DGRAM | SOCK_NONBLOCK, &m_usUdpPort);
}

FakeDevice::~FakeDevice()
{
    close(m_fdListen);
    close(m_fdUdp);
}

void FakeDevice::AcceptAndClose()
{
    int fd = accept(m_fdListen, nullptr, nullptr);
    Check(fd >= 0, "accept");
    close(fd);
}

void FakeDevice::Collect()
{
    // The sender has ended: each connection is queued and ends with its close.
    Check(fcntl(m_fdListen, F_SETFL, O_NONBLOCK) == 0, "fcntl");
    char pcBuf[65536];
    for (int fd; (fd = accept(m_fdListen, nullptr, nullptr)) >= 0; close(fd)) {
        std::string& sBytes = connections.emplace_back();
        for (ssize_t n; (n = read(fd, pcBuf, sizeof pcBuf)) > 0;)
            sBytes.append(pcBuf, static_cast<std::size_t>(n));
    }
    for (ssize_t n; (n = recv(m_fdUdp, pcBuf, sizeof pcBuf, 0)) >= 0;)
        datagrams.emplace_back(pcBuf, static_cast<std::size_t>(n));
}

RefusingPort::RefusingPort()
{
    m_fd = BoundSocket(SOCK_STREAM, &m_usPort);
}

RefusingPort::~RefusingPort()
{
    close(m_fd);
}
