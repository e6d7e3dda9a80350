// A stand-in for the device on the loopback interface: a TCP listener and a UDP
// socket on 127.0.0.1 (ephemeral ports). The kernel queues what the sender
// sends; Collect() reads it after the sender has ended, so one run may send as
// much as the socket buffers hold (well over 100 KiB).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class FakeDevice {
public:
    FakeDevice();
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    std::string TcpPortArg() const { return "-p" + std::to_string(m_usTcpPort); }
    std::string UdpPortArg() const { return "-p" + std::to_string(m_usUdpPort); }
    std::uint16_t TcpPort() const { return m_usTcpPort; }

    // Waits for the next connection and closes it at once.
    void AcceptAndClose();
    // Reads everything the ended sender left: the bytes of each TCP connection
    // in the order they came, and every UDP datagram.
    void Collect();

    std::vector<std::string> connections;
    std::vector<std::string> datagrams;

private:
    int m_fdListen = -1;
    int m_fdUdp = -1;
    std::uint16_t m_usTcpPort = 0;
    std::uint16_t m_usUdpPort = 0;
};

// A TCP port on 127.0.0.1 that refuses connections: bound, so no one else
// takes it, but not listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::string PortArg() const { return "-p" + std::to_string(m_usPort); }

private:
    int m_fd = -1;
    std::uint16_t m_usPort = 0;
};
