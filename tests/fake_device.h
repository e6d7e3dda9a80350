// A stand-in for the device on the loopback interface: a TCP listener and a
// UDP socket on 127.0.0.1, ephemeral ports, that record every byte they get.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeDevice {
public:
    // What the device does with a TCP connection: record its bytes, reset it at
    // once, or close it at once in the orderly way.
    enum class Mode { Record, Reset, Close };

    explicit FakeDevice(Mode eMode = Mode::Record);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    std::uint16_t TcpPort() const { return m_usTcpPort; }
    std::uint16_t UdpPort() const { return m_usUdpPort; }

    // Waits until iCount TCP connections have been accepted (and, by the mode,
    // reset or closed).
    void WaitForConnections(int iCount);

    // Collects what is still on its way. Call it once the sender has ended;
    // the accessors below are valid afterwards.
    void Finish();

    // Bytes of each TCP connection, in the order they were accepted.
    const std::vector<std::string>& Connections() const { return m_vConnections; }
    // Every UDP datagram, in arrival order.
    const std::vector<std::string>& Datagrams() const { return m_vDatagrams; }

private:
    struct Connection {
        int fd;
        std::size_t index;  // into m_vConnections
    };

    void Run();
    void Accept(bool bBlocking);
    bool ReadConnection(Connection& sConn);  // false at the end of the stream
    void ReadDatagrams();
    void Drain();

    Mode m_eMode;
    std::mutex m_mutex;
    std::condition_variable m_cvAccepted;
    int m_iAccepted = 0;
    int m_fdListen = -1;
    int m_fdUdp = -1;
    int m_fdWake[2] = {-1, -1};
    std::uint16_t m_usTcpPort = 0;
    std::uint16_t m_usUdpPort = 0;
    std::vector<Connection> m_vOpen;
    std::vector<std::string> m_vConnections;
    std::vector<std::string> m_vDatagrams;
    std::thread m_thread;
    bool m_bFinished = false;
};

// A TCP port on 127.0.0.1 that refuses connections: the socket is bound, so no
// one else takes the port, but it does not listen.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return m_usPort; }

private:
    int m_fd = -1;
    std::uint16_t m_usPort = 0;
};
