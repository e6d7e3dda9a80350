#include "morlink_serial_pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <stdexcept>

PtyPair::PtyPair()
{
    char pcName[64];
    if (openpty(&m_fdMaster, &m_fdSlave, pcName, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    fcntl(m_fdMaster, F_SETFD, FD_CLOEXEC);
    fcntl(m_fdSlave, F_SETFD, FD_CLOEXEC);
    m_path = pcName;
}

PtyPair::~PtyPair()
{
    HangUp();
    close(m_fdSlave);
}

bool PtyPair::WaitRaw() const
{
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    termios sTerm;
    while (std::chrono::steady_clock::now() < tEnd) {
        if (tcgetattr(m_fdSlave, &sTerm) == 0 && (sTerm.c_lflag & ICANON) == 0)
            return true;
        usleep(2000);
    }
    return false;
}

void PtyPair::Send(const std::string& data, std::size_t iPiece) const
{
    if (iPiece == 0)
        iPiece = data.size();
    for (std::size_t i = 0; i < data.size();) {
        if (i > 0)
            usleep(10000);
        const std::size_t iEnd = std::min(data.size(), i + iPiece);
        while (i < iEnd) {
            ssize_t n = write(m_fdMaster, data.data() + i, iEnd - i);
            if (n < 0 && errno != EINTR)
                throw std::runtime_error("pty write failed");
            i += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
    }
}

void PtyPair::HangUp()
{
    if (m_fdMaster >= 0)
        close(m_fdMaster);
    m_fdMaster = -1;
}

PtyCollector::PtyCollector(const PtyPair& pty) : m_fd(pty.Master())
{
    m_thread = std::thread([this] {
        char pcBuf[4096];
        for (;;) {
            pollfd sPoll = {m_fd, POLLIN, 0};
            // Read the stop flag before the poll, so bytes queued before Stop()
            // are still read by the last round.
            const bool bLast = m_bStop;
            if (poll(&sPoll, 1, bLast ? 0 : 20) > 0 && (sPoll.revents & POLLIN) != 0) {
                ssize_t n = read(m_fd, pcBuf, sizeof pcBuf);
                if (n > 0) {
                    m_data.append(pcBuf, static_cast<std::size_t>(n));
                    continue;
                }
            }
            if (bLast)
                return;
        }
    });
}

PtyCollector::~PtyCollector()
{
    Stop();
}

std::string PtyCollector::Stop()
{
    m_bStop = true;
    if (m_thread.joinable())
        m_thread.join();
    return m_data;
}
