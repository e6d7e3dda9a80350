// The simulated device on the loopback interface: a TCP listener and a UDP
// socket on 127.0.0.1 (ephemeral ports) that record what the sender sends and,
// when given a script, answer it. The tests use it in-process; the program
// simdevice (simdevice_main.cpp) runs it for the demo and the benchmarks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

// One step of a device's script.
struct SimStep {
    enum Kind {
        RECV,     // wait until ullValue bytes in all have come
        QUIET,    // wait until nothing has come for ullValue ms
        SEND,     // send sData
        BLOB,     // send ullValue bytes of a fixed pattern (SimBlobByte)
        SLEEP,    // wait ullValue ms, still reading
        HOLD,     // read nothing for ullValue ms: the sender's data pile up,
                  // and are read afterwards even if the sender has closed
        STALL,    // stop reading for good
        GATE,     // read nothing until the test calls OpenGate(), however long
        SHUT,     // end the sending direction, go on reading
        TRICKLE,  // from now on read at most ullValue bytes every 50 ms
        CLOSE,    // close the connection
        RESET,    // reset the connection
    } eKind;
    std::uint64_t ullValue = 0;
    std::string sData;
};

// Reads one step from its text form: recv:N quiet:MS send:TEXT blob:N sleep:MS
// hold:MS stall gate shut trickle:N close reset. TEXT takes \xHH, \n, \r and \\ escapes. False if malformed.
bool SimParseStep(const std::string& sText, SimStep* psStep);

// A script from the steps' text forms; a malformed step throws.
std::vector<SimStep> SimScript(const std::vector<std::string>& vSteps);

// Byte number i of every blob.
inline unsigned char SimBlobByte(std::uint64_t i)
{
    return static_cast<unsigned char>((i * 31 + (i >> 9)) & 0xFF);
}

// The receive buffer of the device's TCP connections. KERNEL lets the kernel
// size it, growing up to net.ipv4.tcp_rmem's limit (32 MiB on some machines),
// so that a device that stops reading, or resets, may still have taken in all
// the sender sent. SMALL fixes it at SIM_SMALL_RECEIVE_BUFFER: whatever the
// machine, a device that stops reading soon stops the sender, and a reset meets
// a sender that is still sending, given an input larger than SimSenderBufferLimit().
enum class SimBuffer {
    KERNEL,
    SMALL
};
constexpr int SIM_SMALL_RECEIVE_BUFFER = 32768;

// The most a sender's kernel keeps queued on one TCP connection on this
// machine: its send buffer grows by itself up to net.ipv4.tcp_wmem's limit.
std::size_t SimSenderBufferLimit();

class SimDevice {
public:
    // Listens on 127.0.0.1, or on an address of a test network namespace.
    explicit SimDevice(const char* pcAddr = "127.0.0.1", SimBuffer eBuffer = SimBuffer::KERNEL);
    explicit SimDevice(SimBuffer eBuffer) : SimDevice("127.0.0.1", eBuffer) {}
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    std::uint16_t TcpPort() const { return m_usTcpPort; }
    std::uint16_t UdpPort() const { return m_usUdpPort; }
    std::string TcpPortArg() const { return "-p" + std::to_string(m_usTcpPort); }
    std::string UdpPortArg() const { return "-p" + std::to_string(m_usUdpPort); }

    // Without a script: the kernel queues what the sender sends, and Collect()
    // reads it after the sender has ended, each TCP connection in the order
    // they came, and every UDP datagram. For a few KiB: what any loopback
    // connection and socket queue.
    void AcceptAndClose();  // takes the next connection and closes it at once
    void Collect();

    // With a script: plays it on a thread of its own with the first TCP
    // connection (or, bUdp, with the sender of the first datagram), recording
    // what comes into connections[0] (or datagrams). The session ends with the
    // script's close or reset, when the sender closes, or after ullLimitMs.
    void Play(const std::vector<SimStep>& vScript, bool bUdp = false, std::uint64_t ullLimitMs = 60000);
    // Keeps only the count and CRC-32 of what comes (for streams too large to
    // hold), and of the blobs it sends. Call before Play.
    void ChecksumOnly() { m_bChecksumOnly = true; }
    std::uint64_t ReceivedCount() const { return m_ullReceived; }
    std::uint32_t ReceivedCrc() const { return m_ulReceivedCrc; }
    std::uint32_t SentBlobCrc() const { return m_ulBlobCrc; }

    // Ends the script's gate step: the device reads again.
    void OpenGate() { m_bGateOpen = true; }
    // Waits until the played session has ended by itself.
    void Wait();
    // Ends a played session: takes what is still queued and waits for the thread.
    void Finish();

    std::vector<std::string> connections;
    std::vector<std::string> datagrams;

private:
    void Session(std::vector<SimStep> vScript, bool bUdp, std::uint64_t ullLimitMs);
    bool Step(const SimStep& sStep);
    bool Pump(std::uint64_t ullMs);
    bool ReadOnce();
    bool Send(const void* pData, std::size_t size);

    int m_fdListen = -1;
    int m_fdUdp = -1;
    int m_fdSession = -1;
    std::uint16_t m_usTcpPort = 0;
    std::uint16_t m_usUdpPort = 0;
    bool m_bUdp = false;
    bool m_bStalled = false;
    std::uint64_t m_ullReceived = 0;
    std::uint64_t m_ullRecvUntil = UINT64_MAX;  // a recv step's count
    std::uint64_t m_ullLastData = 0;
    std::uint64_t m_ullDeadline = 0;
    std::string* m_psRecord = nullptr;
    void Record(const char* pc, std::size_t n);
    bool m_bChecksumOnly = false;
    std::uint32_t m_ulReceivedCrc = 0;
    std::uint32_t m_ulBlobCrc = 0;
    std::atomic<bool> m_bStop{false};
    std::atomic<bool> m_bGateOpen{false};
    std::thread m_thread;
};

// A TCP port on 127.0.0.1 that refuses connections: bound, so no one else
// takes it, but not listening.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    std::uint16_t Port() const { return m_usPort; }
    std::string PortArg() const { return "-p" + std::to_string(m_usPort); }
    // From now on the port takes connections (a device that has come up),
    // iBacklog of them queued before accept; Accept() reads all of the first
    // one, AcceptOne() hands it over.
    void Listen(int iBacklog = 4);
    std::string Accept();
    int AcceptOne();

private:
    int m_fd = -1;
    std::uint16_t m_usPort = 0;
};
