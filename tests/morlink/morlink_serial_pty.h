// A pseudo-terminal pair standing in for a serial device: the sender opens the
// terminal side by its path (-c/dev/pts/N), the test plays the device on the
// master side. The test also keeps the terminal side open to look at its
// settings, which the sender changes.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

class PtyPair {
public:
    PtyPair();  // default (cooked) terminal settings
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& Path() const { return m_path; }
    std::string PortArg() const { return "-c" + m_path; }
    int Master() const { return m_fdMaster; }
    int Slave() const { return m_fdSlave; }

    // Waits until someone has put the terminal into raw mode (the sender has
    // configured it); false if that does not happen within 20 s.
    bool WaitRaw() const;
    // The device sends: all of data, in pieces of iPiece bytes with a short
    // pause between them.
    void Send(const std::string& data, std::size_t iPiece = 0) const;
    // The device hangs up: the master side is closed.
    void HangUp();

private:
    int m_fdMaster = -1;
    int m_fdSlave = -1;
    std::string m_path;
};

// Collects on a thread what the sender writes to the device, until Stop().
class PtyCollector {
public:
    explicit PtyCollector(const PtyPair& pty);
    ~PtyCollector();
    // Stops after the bytes still queued are read; what the device got.
    std::string Stop();

private:
    int m_fd;
    std::atomic<bool> m_bStop{false};
    std::string m_data;
    std::thread m_thread;
};

// Output speed of the terminal on fd in bits per second, also for speeds
// without a B-constant; 0 if it cannot be read.
std::uint32_t TerminalSpeed(int fd);
