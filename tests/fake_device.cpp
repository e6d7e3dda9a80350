#include "fake_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
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

void SetNonBlocking(int fd)
{
    Check(fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0, "fcntl");
}

}  // namespace

FakeDevice::FakeDevice(Mode eMode) : m_eMode(eMode)
{
    m_fdListen = BoundSocket(SOCK_STREAM, &m_usTcpPort);
    Check(listen(m_fdListen, 16) == 0, "listen");
    SetNonBlocking(m_fdListen);
    m_fdUdp = BoundSocket(SOCK_DGRAM, &m_usUdpPort);
    int iSize = 4 << 20;
    setsockopt(m_fdUdp, SOL_SOCKET, SO_RCVBUF, &iSize, sizeof iSize);
    SetNonBlocking(m_fdUdp);
    Check(pipe2(m_fdWake, O_CLOEXEC) == 0, "pipe");
    m_thread = std::thread(&FakeDevice::Run, this);
}

FakeDevice::~FakeDevice()
{
    Finish();
    for (Connection& sConn : m_vOpen)
        close(sConn.fd);
    close(m_fdListen);
    close(m_fdUdp);
    close(m_fdWake[0]);
    close(m_fdWake[1]);
}

void FakeDevice::Finish()
{
    if (m_bFinished)
        return;
    m_bFinished = true;
    char c = 0;
    Check(write(m_fdWake[1], &c, 1) == 1, "write");
    m_thread.join();
    Drain();
}

// Serves the sockets while the sender runs, until Finish wakes it.
void FakeDevice::Run()
{
    for (;;) {
        std::vector<pollfd> vPoll = {{m_fdWake[0], POLLIN, 0}, {m_fdListen, POLLIN, 0},
                                     {m_fdUdp, POLLIN, 0}};
        for (const Connection& sConn : m_vOpen)
            vPoll.push_back({sConn.fd, POLLIN, 0});
        if (poll(vPoll.data(), vPoll.size(), -1) < 0)
            continue;
        if (vPoll[0].revents)
            return;
        // Connections first: their entries in vPoll follow m_vOpen's order.
        for (std::size_t i = m_vOpen.size(); i-- > 0;) {
            if (vPoll[3 + i].revents && !ReadConnection(m_vOpen[i])) {
                close(m_vOpen[i].fd);
                m_vOpen.erase(m_vOpen.begin() + static_cast<long>(i));
            }
        }
        if (vPoll[1].revents)
            Accept(false);
        if (vPoll[2].revents)
            ReadDatagrams();
    }
}

void FakeDevice::Accept(bool bBlocking)
{
    for (;;) {
        int fd = accept4(m_fdListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        m_vConnections.emplace_back();
        if (m_eMode == Mode::Reset) {
            linger sLinger = {1, 0};
            setsockopt(fd, SOL_SOCKET, SO_LINGER, &sLinger, sizeof sLinger);
        }
        if (m_eMode != Mode::Record)
            close(fd);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_iAccepted;
        }
        m_cvAccepted.notify_all();
        if (m_eMode != Mode::Record)
            continue;
        if (!bBlocking)
            SetNonBlocking(fd);
        m_vOpen.push_back({fd, m_vConnections.size() - 1});
    }
}

bool FakeDevice::ReadConnection(Connection& sConn)
{
    char pcBuf[65536];
    for (;;) {
        ssize_t n = read(sConn.fd, pcBuf, sizeof pcBuf);
        if (n > 0) {
            m_vConnections[sConn.index].append(pcBuf, static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // Would block: the connection stays open.
        return n < 0 && errno == EAGAIN;
    }
}

void FakeDevice::ReadDatagrams()
{
    char pcBuf[65536];
    for (;;) {
        ssize_t n = recv(m_fdUdp, pcBuf, sizeof pcBuf, 0);
        if (n < 0)
            return;
        m_vDatagrams.emplace_back(pcBuf, static_cast<std::size_t>(n));
    }
}

void FakeDevice::WaitForConnections(int iCount)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cvAccepted.wait(lock, [&] { return m_iAccepted >= iCount; });
}

// The sender has ended: everything it sent is queued, and each connection
// ends with the close. Connections not accepted yet are taken now.
void FakeDevice::Drain()
{
    Accept(true);
    for (Connection& sConn : m_vOpen) {
        Check(fcntl(sConn.fd, F_SETFL, fcntl(sConn.fd, F_GETFL) & ~O_NONBLOCK) == 0, "fcntl");
        ReadConnection(sConn);
        close(sConn.fd);
    }
    m_vOpen.clear();
    ReadDatagrams();
}

RefusingPort::RefusingPort()
{
    m_fd = BoundSocket(SOCK_STREAM, &m_usPort);
}

RefusingPort::~RefusingPort()
{
    close(m_fd);
}
