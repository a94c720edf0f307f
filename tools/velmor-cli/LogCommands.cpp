// log: the recorder's operation log.
#include <CLI/CLI.hpp>

#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {

void AddLogCommands(CLI::App& /*app*/, Runner& /*run*/) {}

}  // namespace velmor::cli
