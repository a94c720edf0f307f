// velmor-cli: the headless command line over the player's libraries.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <functional>
#include <iostream>

#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

using namespace velmor::cli;

int main(int argc, char** argv)
{
    CLI::App app{"velmor-cli: find, inspect and export vehicle recorder recordings without a window.\n"
                 "Output is JSON on standard output; diagnostics go to standard error.\n"
                 "Exit status: 0 success, 1 bad or unreadable input, 2 usage error."};
    app.require_subcommand(1);
    std::function<int()> run;

    std::string path;
    auto* probe = app.add_subcommand("probe", "Tell what PATH is: {\"path\":P,\"kind\":K}");
    probe->add_option("PATH", path, "file or folder")->required();
    probe->callback([&] { run = [&] { return RunProbe(path); }; });

    auto* info = app.add_subcommand("info", "Describe one recording file: span, channels, picture, codec, audio, label");
    info->add_option("FILE", path, "recording file")->required();
    info->callback([&] { run = [&] { return RunInfo(path); }; });

    FramesOptions frames;
    int channel = 0;
    uint32_t seek = 0;
    uint64_t count = 0;
    auto* framesCmd = app.add_subcommand(
        "frames", "List the frames the player's reader delivers, one JSON object per line (NDJSON)");
    framesCmd->add_option("FILE", path, "recording file")->required();
    auto* channelOpt = framesCmd->add_option("--channel", channel, "channel, counted from 1 (default: the first)")
                           ->check(CLI::Range(1, 16));
    auto* seekOpt = framesCmd->add_option("--seek", seek, "seek to the I frame at or before this second first");
    auto* countOpt = framesCmd->add_option("--count", count, "stop after this many frames");
    framesCmd->callback([&] {
        if (*channelOpt) frames.channel = channel;
        if (*seekOpt) frames.seek = seek;
        if (*countOpt) frames.count = count;
        run = [&] { return RunFrames(path, frames); };
    });

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "velmor-cli: " << e.what() << "\n" << "Run 'velmor-cli --help' for usage.\n";
        return kExitUsage;
    }

    RouteLibraryOutputToStderr();
    try {
        int rc = run ? run() : kExitUsage;
        FlushJson();
        return rc;
    } catch (const CliError& e) {
        FlushJson();
        Warn(e.Subject(), e.what());
        return e.Subject().rfind("--", 0) == 0 ? kExitUsage : kExitBadInput;
    } catch (const std::exception& e) {
        FlushJson();
        Warn("error", e.what());
        return kExitBadInput;
    }
}
