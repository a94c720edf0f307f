// voice: the recorder voice codec.
#include <CLI/CLI.hpp>

#include "tools/velmor-cli/CliOutput.h"
#include "tools/velmor-cli/Commands.h"

namespace velmor::cli {

void AddVoiceCommands(CLI::App& /*app*/, Runner& /*run*/) {}

}  // namespace velmor::cli
