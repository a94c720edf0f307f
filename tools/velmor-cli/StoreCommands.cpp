// store: the container file system on a mounted partition.
#include <CLI/CLI.hpp>

#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {

void AddStoreCommands(CLI::App& /*app*/, Runner& /*run*/) {}

}  // namespace velmor::cli
