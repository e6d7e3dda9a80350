// The sender against the simulated device: the one way the suites set up and
// run such a session.
#pragma once

#include "morlink_test_util.h"
#include "sim_device.h"

#include <string>
#include <vector>

// The sender on 127.0.0.1 with args and input (kEndlessInput: without end),
// killed after 20 s.
RunSetup Sender(const std::vector<std::string>& args, const std::string& input);
// The same, at the device's TCP port (or, bUdp, its UDP port with -u), before args.
RunSetup SenderSetup(const SimDevice& dev, const std::vector<std::string>& args, const std::string& input,
                     bool bUdp = false);
// Runs the sender against the device playing the steps over TCP (or UDP).
RunResult Talk(SimDevice& dev, const std::vector<std::string>& args, const std::string& input,
               const std::vector<std::string>& steps, bool bUdp = false);
