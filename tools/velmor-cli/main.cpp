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
    app.set_version_flag("--version", std::string("velmor-cli ") + VELMOR_VERSION);
    app.require_subcommand(1);
    Runner run;
    AddFileCommands(app, run);
    AddStoreCommands(app, run);
    AddLogCommands(app, run);
    AddVoiceCommands(app, run);
    AddExportCommands(app, run);
    AddSnapshotCommands(app, run);
    AddSearchCommands(app, run);
    AddVerifyCommands(app, run);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "velmor-cli: " << e.what() << "\n" << "Run 'velmor-cli --help' for usage.\n";
        return kExitUsage;
    }

    RouteLibraryLogsToStderr();
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
