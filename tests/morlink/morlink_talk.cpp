#include "morlink_talk.h"

RunSetup Sender(const std::vector<std::string>& args, const std::string& input)
{
    RunSetup sSetup;
    sSetup.args = {"-s127.0.0.1"};
    sSetup.args.insert(sSetup.args.end(), args.begin(), args.end());
    if (input == kEndlessInput)
        sSetup.stdinPath = kEndlessInput;
    else
        sSetup.input = input;
    sSetup.dKillAfter = 20;
    return sSetup;
}

RunSetup SenderSetup(const SimDevice& dev, const std::vector<std::string>& args, const std::string& input, bool bUdp)
{
    std::vector<std::string> all = {bUdp ? dev.UdpPortArg() : dev.TcpPortArg()};
    if (bUdp)
        all.push_back("-u");
    all.insert(all.end(), args.begin(), args.end());
    return Sender(all, input);
}

RunResult Talk(SimDevice& dev, const std::vector<std::string>& args, const std::string& input,
               const std::vector<std::string>& steps, bool bUdp)
{
    dev.Play(SimScript(steps), bUdp, 30000);
    RunResult r = RunMorlink(SenderSetup(dev, args, input, bUdp));
    dev.Finish();
    return r;
}
