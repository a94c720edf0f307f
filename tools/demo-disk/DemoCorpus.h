// The demo recorder corpus: one call lays down, under a folder, every kind of
// source the player reads (a container partition with its device image, an
// index disk with its event file and log, a download tree, a client download
// folder, backup record files and IFV files) and returns the manifest that
// says what each source holds.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace velmor::demo {

// Name of the manifest inside the corpus folder.
inline constexpr const char* kManifestName = "MANIFEST.json";

using Progress = std::function<void(const std::string&)>;

// Writes the corpus under `root`, which must be absent or an empty folder
// (std::runtime_error otherwise; nothing is touched then). Paths in the
// manifest are relative to `root`, so two corpora built from the same code
// are byte for byte the same, manifest included. The manifest file is
// written last: a corpus without one is unfinished.
nlohmann::ordered_json BuildCorpus(const std::filesystem::path& root, const Progress& progress);

}  // namespace velmor::demo
