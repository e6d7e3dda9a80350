#include "sim_device.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace {

void Check(bool bOk, const char* pcWhat)
{
    if (!bOk)
        throw std::runtime_error(std::string(pcWhat) + ": " + std::strerror(errno));
}

// A socket bound to ulAddr (network byte order) on an ephemeral port;
// *pusPort gets the port.
int BoundSocket(int iType, std::uint16_t* pusPort, std::uint32_t ulAddr = htonl(INADDR_LOOPBACK))
{
    int fd = socket(AF_INET, iType | SOCK_CLOEXEC, 0);
    Check(fd >= 0, "socket");
    sockaddr_in sAddr{};
    sAddr.sin_family = AF_INET;
    sAddr.sin_addr.s_addr = ulAddr;
    Check(bind(fd, reinterpret_cast<sockaddr*>(&sAddr), sizeof sAddr) == 0, "bind");
    socklen_t len = sizeof sAddr;
    Check(getsockname(fd, reinterpret_cast<sockaddr*>(&sAddr), &len) == 0, "getsockname");
    *pusPort = ntohs(sAddr.sin_port);
    return fd;
}

std::uint64_t NowMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool Unescape(const std::string& sText, std::string* psOut)
{
    for (std::size_t i = 0; i < sText.size(); i++) {
        if (sText[i] != '\\') {
            *psOut += sText[i];
            continue;
        }
        char c = i + 1 < sText.size() ? sText[++i] : '\0';
        if (c == 'n' || c == 'r' || c == '\\') {
            *psOut += c == 'n' ? '\n' : c == 'r' ? '\r' : '\\';
        } else if (c == 'x' && i + 2 < sText.size() && HexDigit(sText[i + 1]) >= 0 && HexDigit(sText[i + 2]) >= 0) {
            *psOut += static_cast<char>(HexDigit(sText[i + 1]) * 16 + HexDigit(sText[i + 2]));
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

// CRC-32 as zlib and the file tools compute it, for checking large streams.
std::uint32_t Crc32Update(std::uint32_t ulCrc, const void* pData, std::size_t n)
{
    static const auto asTable = [] {
        std::array<std::uint32_t, 256> a{};
        for (std::uint32_t k = 0; k < 256; k++) {
            std::uint32_t c = k;
            for (int j = 0; j < 8; j++)
                c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
            a[k] = c;
        }
        return a;
    }();
    const auto* puc = static_cast<const unsigned char*>(pData);
    ulCrc = ~ulCrc;
    for (std::size_t i = 0; i < n; i++)
        ulCrc = (ulCrc >> 8) ^ asTable[(ulCrc ^ puc[i]) & 0xFF];
    return ~ulCrc;
}

}  // namespace

void SimDevice::Record(const char* pc, std::size_t n)
{
    if (m_bChecksumOnly)
        m_ulReceivedCrc = Crc32Update(m_ulReceivedCrc, pc, n);
    else
        m_psRecord->append(pc, n);
    m_ullReceived += n;
}

bool SimParseStep(const std::string& sText, SimStep* psStep)
{
    static const struct {
        const char* pcName;
        SimStep::Kind eKind;
        bool bNumber;
    } asKinds[] = {
        {"recv", SimStep::RECV, true},    {"quiet", SimStep::QUIET, true},     {"send", SimStep::SEND, false},
        {"blob", SimStep::BLOB, true},    {"sleep", SimStep::SLEEP, true},     {"hold", SimStep::HOLD, true},
        {"stall", SimStep::STALL, false}, {"close", SimStep::CLOSE, false},    {"reset", SimStep::RESET, false},
        {"shut", SimStep::SHUT, false},   {"trickle", SimStep::TRICKLE, true}, {"gate", SimStep::GATE, false}};
    std::size_t uColon = sText.find(':');
    std::string sName = sText.substr(0, uColon);
    std::string sArg = uColon == std::string::npos ? "" : sText.substr(uColon + 1);
    for (const auto& sKind : asKinds) {
        if (sName != sKind.pcName)
            continue;
        *psStep = SimStep{sKind.eKind, 0, ""};
        if (sKind.eKind == SimStep::SEND)
            return Unescape(sArg, &psStep->sData);
        if (!sKind.bNumber)
            return uColon == std::string::npos;
        char* pcEnd = nullptr;
        psStep->ullValue = std::strtoull(sArg.c_str(), &pcEnd, 10);
        return !sArg.empty() && *pcEnd == '\0';
    }
    return false;
}

std::vector<SimStep> SimScript(const std::vector<std::string>& vSteps)
{
    std::vector<SimStep> vScript;
    for (const std::string& sText : vSteps) {
        if (!SimParseStep(sText, &vScript.emplace_back()))
            throw std::invalid_argument("bad device step: " + sText);
    }
    return vScript;
}

std::size_t SimSenderBufferLimit()
{
    // Three figures: least, initial, largest; the initial one may exceed the largest.
    std::ifstream file("/proc/sys/net/ipv4/tcp_wmem");
    std::size_t uLeast = 0, uInitial = 0, uLargest = 0;
    if (!(file >> uLeast >> uInitial >> uLargest))
        throw std::runtime_error("cannot read net.ipv4.tcp_wmem");
    return std::max(uInitial, uLargest);
}

SimDevice::SimDevice(const char* pcAddr, SimBuffer eBuffer)
{
    in_addr sAddr{};
    Check(inet_pton(AF_INET, pcAddr, &sAddr) == 1, "address");
    m_fdListen = BoundSocket(SOCK_STREAM, &m_usTcpPort, sAddr.s_addr);
    if (eBuffer == SimBuffer::SMALL) {
        // Before listen: the accepted connections inherit it, and the window
        // they offer is sized by it from the start.
        int iSize = SIM_SMALL_RECEIVE_BUFFER;
        Check(setsockopt(m_fdListen, SOL_SOCKET, SO_RCVBUF, &iSize, sizeof iSize) == 0, "SO_RCVBUF");
    }
    Check(listen(m_fdListen, 16) == 0, "listen");
    m_fdUdp = BoundSocket(SOCK_DGRAM | SOCK_NONBLOCK, &m_usUdpPort, sAddr.s_addr);
}

SimDevice::~SimDevice()
{
    if (m_thread.joinable())
        Finish();
    close(m_fdListen);
    close(m_fdUdp);
}

void SimDevice::AcceptAndClose()
{
    int fd = accept(m_fdListen, nullptr, nullptr);
    Check(fd >= 0, "accept");
    close(fd);
}

void SimDevice::Collect()
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

void SimDevice::Play(const std::vector<SimStep>& vScript, bool bUdp, std::uint64_t ullLimitMs)
{
    m_bUdp = bUdp;
    m_psRecord = bUdp ? &datagrams.emplace_back() : &connections.emplace_back();
    m_thread = std::thread(&SimDevice::Session, this, vScript, bUdp, ullLimitMs);
}

void SimDevice::Wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

void SimDevice::Finish()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
}

// Waits up to ullMs for data and records what comes; false once the sender
// has closed, the session's time is up, or it is told to stop.
bool SimDevice::Pump(std::uint64_t ullMs)
{
    std::uint64_t ullEnd = NowMs() + ullMs;
    for (;;) {
        std::uint64_t ullNow = NowMs();
        if (m_bStop || ullNow >= m_ullDeadline)
            return false;
        if (ullNow >= ullEnd)
            return true;
        std::uint64_t ullWait = std::min({ullEnd - ullNow, m_ullDeadline - ullNow, std::uint64_t{50}});
        pollfd sPoll = {m_fdSession, static_cast<short>(m_bStalled ? POLLRDHUP : POLLIN | POLLRDHUP), 0};
        if (poll(&sPoll, 1, static_cast<int>(ullWait)) <= 0)
            continue;
        if (m_bStalled ? (sPoll.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0 : !ReadOnce())
            return false;
        if (m_ullReceived >= m_ullRecvUntil)
            return true;
    }
}

bool SimDevice::ReadOnce()
{
    char pcBuf[65536];
    ssize_t n = recv(m_fdSession, pcBuf, sizeof pcBuf, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR;
    if (n == 0)
        return m_bUdp;  // an empty datagram is no end
    Record(pcBuf, static_cast<std::size_t>(n));
    m_ullLastData = NowMs();
    return true;
}

bool SimDevice::Send(const void* pData, std::size_t size)
{
    const char* pc = static_cast<const char*>(pData);
    while (size > 0) {
        pollfd sPoll = {m_fdSession, POLLOUT, 0};
        if (m_bStop || NowMs() >= m_ullDeadline)
            return false;
        if (poll(&sPoll, 1, 50) <= 0)
            continue;
        ssize_t n = send(m_fdSession, pc, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        if (n > 0) {
            pc += n;
            size -= static_cast<std::size_t>(n);
        }
    }
    return true;
}

// Plays one step; false when the session ends with it.
bool SimDevice::Step(const SimStep& sStep)
{
    switch (sStep.eKind) {
    case SimStep::RECV: {
        // Ends as soon as the count is in, before a close that follows it.
        m_ullRecvUntil = sStep.ullValue;
        bool bOn = true;
        while (bOn && m_ullReceived < sStep.ullValue)
            bOn = Pump(50);
        m_ullRecvUntil = UINT64_MAX;
        return bOn || m_ullReceived >= sStep.ullValue;
    }
    case SimStep::QUIET:
        while (NowMs() - m_ullLastData < sStep.ullValue)
            if (!Pump(sStep.ullValue - (NowMs() - m_ullLastData)))
                return false;
        return true;
    case SimStep::SEND:
        return Send(sStep.sData.data(), sStep.sData.size());
    case SimStep::BLOB: {
        unsigned char pucChunk[65536];
        for (std::uint64_t i = 0; i < sStep.ullValue;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof pucChunk, sStep.ullValue - i));
            for (std::size_t k = 0; k < n; k++)
                pucChunk[k] = SimBlobByte(i + k);
            m_ulBlobCrc = Crc32Update(m_ulBlobCrc, pucChunk, n);
            if (!Send(pucChunk, n))
                return false;
            i += n;
        }
        return true;
    }
    case SimStep::SLEEP:
        return Pump(sStep.ullValue);
    case SimStep::HOLD: {
        const std::uint64_t ullEnd = NowMs() + sStep.ullValue;
        m_bStalled = true;
        bool bOn = Pump(sStep.ullValue);
        m_bStalled = false;
        // A sender that closes meanwhile has left its data queued: the hold
        // is waited out, and the steps after it read them.
        while (!bOn && !m_bStop && NowMs() < std::min(ullEnd, m_ullDeadline))
            usleep(10000);
        return bOn || (!m_bStop && NowMs() < m_ullDeadline);
    }
    case SimStep::STALL:
        m_bStalled = true;
        return true;
    case SimStep::SHUT:
        return shutdown(m_fdSession, SHUT_WR) == 0;
    case SimStep::TRICKLE:
        // Stalled, so that what is still queued when the session is stopped
        // stays unread: the count shows what the device had taken by then.
        m_bStalled = true;
        while (!m_bStop && NowMs() < m_ullDeadline) {
            usleep(50000);
            char pcBuf[65536];
            const std::size_t size = std::min<std::size_t>(sizeof pcBuf, sStep.ullValue);
            const ssize_t n = recv(m_fdSession, pcBuf, size, MSG_DONTWAIT);
            if (n == 0)
                return false;
            if (n > 0)
                Record(pcBuf, static_cast<std::size_t>(n));
        }
        return false;
    case SimStep::GATE:
        // What the sender sends meanwhile stays queued, even after it closes.
        while (!m_bGateOpen && !m_bStop && NowMs() < m_ullDeadline)
            usleep(10000);
        return !m_bStop && NowMs() < m_ullDeadline;
    case SimStep::RESET: {
        linger sLinger = {1, 0};
        setsockopt(m_fdSession, SOL_SOCKET, SO_LINGER, &sLinger, sizeof sLinger);
        return false;
    }
    case SimStep::CLOSE:
        return false;
    }
    return false;
}

void SimDevice::Session(std::vector<SimStep> vScript, bool bUdp, std::uint64_t ullLimitMs)
{
    m_ullDeadline = NowMs() + ullLimitMs;
    m_ullLastData = NowMs();
    if (bUdp) {
        // The first datagram names the sender, to whom the answers go.
        sockaddr_in sPeer{};
        socklen_t len = sizeof sPeer;
        char pcBuf[65536];
        ssize_t n = -1;
        while (n < 0 && !m_bStop && NowMs() < m_ullDeadline) {
            pollfd sPoll = {m_fdUdp, POLLIN, 0};
            if (poll(&sPoll, 1, 50) > 0)
                n = recvfrom(m_fdUdp, pcBuf, sizeof pcBuf, 0, reinterpret_cast<sockaddr*>(&sPeer), &len);
        }
        if (n < 0 || connect(m_fdUdp, reinterpret_cast<sockaddr*>(&sPeer), len) != 0)
            return;
        Record(pcBuf, static_cast<std::size_t>(n));
        m_ullLastData = NowMs();
        m_fdSession = m_fdUdp;
    } else {
        pollfd sPoll = {m_fdListen, POLLIN, 0};
        while (!m_bStop && NowMs() < m_ullDeadline && poll(&sPoll, 1, 50) <= 0) {
        }
        m_fdSession = accept4(m_fdListen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_fdSession < 0)
            return;
    }
    bool bOn = true;
    for (const SimStep& sStep : vScript)
        if (bOn)
            bOn = Step(sStep);
    // After the script: record until the sender closes or the session ends.
    while (bOn)
        bOn = Pump(1000);
    if (m_bStop && !m_bStalled)
        while (ReadOnce() && !m_bUdp) {
        }
    if (!bUdp)
        close(m_fdSession);
}

RefusingPort::RefusingPort()
{
    m_fd = BoundSocket(SOCK_STREAM, &m_usPort);
}

RefusingPort::~RefusingPort()
{
    close(m_fd);
}

void RefusingPort::Listen(int iBacklog)
{
    if (listen(m_fd, iBacklog) != 0)
        throw std::runtime_error("listen failed");
}

int RefusingPort::AcceptOne()
{
    return accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
}

std::string RefusingPort::Accept()
{
    const int fd = accept(m_fd, nullptr, nullptr);
    std::string sData;
    char pcBuf[4096];
    for (ssize_t n; fd >= 0 && (n = read(fd, pcBuf, sizeof pcBuf)) > 0;)
        sData.append(pcBuf, static_cast<std::size_t>(n));
    if (fd >= 0)
        close(fd);
    return sData;
}
