// verify: checks an export against its report, as the program's "verify an
// export" does: every file's size and SHA-256, and the report's signature.
#include <CLI/CLI.hpp>

#include <memory>

#include "player/export/ReportVerifier.h"
#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {
namespace {

int RunVerify(const std::string& report)
{
    const ReportCheck check = VerifyReport(report);
    // A report that cannot be read as one has nothing to print.
    if (!check.readable) throw CliError(report, check.error);
    WriteJson(ReportCheckJson(check) + "\n");
    for (const ReportFinding& f : check.findings) Warn(f.subject, f.what);
    if (check.ok && check.signature == ESignatureCheck::kUnsigned)
        Warn(report, "unsigned: made before reports were signed; its files match, the report itself cannot be checked");
    return check.ok ? kExitOk : kExitBadInput;
}

}  // namespace

void AddVerifyCommands(CLI::App& app, Runner& run)
{
    auto report = std::make_shared<std::string>();
    auto* cmd = app.add_subcommand(
        "verify",
        "Checks an export against its report: every file's size and SHA-256, and the report's signature with the "
        "key it names: {\"ok\":bool,\"signature\":\"valid\"|\"invalid\"|\"unsigned\",\"key\":FINGERPRINT,"
        "\"files\":[{\"path\":P,\"size_ok\":bool,\"sha256_ok\":bool}]}; exit 1, with a line on standard error "
        "for each, when anything differs or is missing");
    cmd->add_option("REPORT", *report, "the export's report (<name>.report.json)")->required();
    cmd->callback([report, &run] { run = [report] { return RunVerify(*report); }; });
}

}  // namespace velmor::cli
