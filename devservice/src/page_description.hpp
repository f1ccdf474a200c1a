// Reading the catalogue from a folder: page images with one JSON description per page, and an
// optional catalogue.json that lists API keys. The description format is in devservice/README.md.
#pragma once

#include "catalogue_store.hpp"
#include "page.hpp"

#include <filesystem>
#include <string>
#include <vector>

namespace kestrel::devservice {

// A page from its JSON description; the image it names is read relative to folder. The image
// must stay inside folder once links are resolved and be a regular file of at most 32 MiB; lists
// and objects may nest 64 deep. Throws std::runtime_error saying which member is wrong.
Page readPageDescription(const std::string& json, const std::filesystem::path& folder);

struct ImportSummary {
    std::vector<std::string> pageIds;
    std::size_t apiKeys = 0;
};

// Adds (or replaces) every described page of folder, and the keys of its catalogue.json. Checks
// every description (at most 1 MiB each) and image before the first write. Throws
// std::runtime_error with one line naming the file.
ImportSummary importFolder(CatalogueStore& store, const std::filesystem::path& folder);

} // namespace kestrel::devservice
