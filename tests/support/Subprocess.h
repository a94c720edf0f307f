// Runs a program of the build and collects its exit status and output.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace velmor::fixtures {

struct ProcessResult {
    int exitCode = -1;  // -1 when it did not exit normally (a crash)
    std::string out;
    std::string err;
};

// `program` is looked up in $VELMOR_BIN, else beside the running program.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::string>& env = {});

std::vector<std::string> Lines(const std::string& text);

}  // namespace velmor::fixtures
