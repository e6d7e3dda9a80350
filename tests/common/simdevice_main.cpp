// simdevice: the simulated device as a program, for the demo and benchmarks.
//   simdevice [-u] [-c] [-a ADDR] [-o FILE] [-w SECONDS] STEP...
// Prints its TCP (or, with -u, UDP) port on 127.0.0.1 (or on ADDR, an address
// of a network namespace the caller made), plays the steps with the
// first sender, writes what it received to FILE, and ends with the session.
// With -c it keeps only counts and CRC-32s and prints them at the end:
//   received N crc XXXXXXXX
//   blobs crc XXXXXXXX
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_device.h"

int main(int argc, char** argv)
{
    bool bUdp = false;
    bool bChecksum = false;
    const char* pcAddr = "127.0.0.1";
    const char* pcRecord = nullptr;
    std::uint64_t ullLimitMs = 60000;
    int iOpt;
    while ((iOpt = getopt(argc, argv, "uca:o:w:")) != -1) {
        if (iOpt == 'u')
            bUdp = true;
        else if (iOpt == 'c')
            bChecksum = true;
        else if (iOpt == 'a')
            pcAddr = optarg;
        else if (iOpt == 'o')
            pcRecord = optarg;
        else if (iOpt == 'w')
            ullLimitMs = std::strtoull(optarg, nullptr, 10) * 1000;
        else
            return 2;
    }
    std::vector<SimStep> vScript;
    for (int i = optind; i < argc; i++) {
        SimStep sStep;
        if (!SimParseStep(argv[i], &sStep)) {
            std::fprintf(stderr, "simdevice: bad step: %s\n", argv[i]);
            return 2;
        }
        vScript.push_back(sStep);
    }
    SimDevice sDevice(pcAddr);
    std::printf("%u\n", bUdp ? sDevice.UdpPort() : sDevice.TcpPort());
    std::fflush(stdout);
    if (bChecksum)
        sDevice.ChecksumOnly();
    sDevice.Play(vScript, bUdp, ullLimitMs);
    sDevice.Wait();
    if (bChecksum)
        std::printf("received %llu crc %08x\nblobs crc %08x\n",
                    static_cast<unsigned long long>(sDevice.ReceivedCount()), sDevice.ReceivedCrc(),
                    sDevice.SentBlobCrc());
    if (pcRecord != nullptr) {
        std::FILE* pFile = std::fopen(pcRecord, "wb");
        const std::string& sData = bUdp ? sDevice.datagrams[0] : sDevice.connections[0];
        if (pFile == nullptr || std::fwrite(sData.data(), 1, sData.size(), pFile) != sData.size() ||
            std::fclose(pFile) != 0)
            return 1;
    }
    return 0;
}
