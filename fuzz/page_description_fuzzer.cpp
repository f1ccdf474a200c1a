// Feeds arbitrary bytes through the local service's page-description reader, as the JSON of one
// page in a catalogue folder that holds a small picture ("page.png"), a folder ("pictures") and a
// link leading out of it ("outside.png"). Besides sanitizer findings, it stops on a description
// read with an exception other than the reader's own, or on a page that breaks its invariants.
#include "page_description.hpp"

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

namespace fs = std::filesystem;

void check(bool condition) {
    if (!condition) std::abort();
}

fs::path folder;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string pattern = (fs::temp_directory_path() / "page-description-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    folder = pattern;
    cv::imwrite((folder / "page.png").string(), cv::Mat(8, 8, CV_8U, cv::Scalar(128)));
    fs::create_directory(folder / "pictures");
    fs::create_symlink("/etc/hostname", folder / "outside.png");
    std::atexit([] { fs::remove_all(folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const kestrel::devservice::Page page =
            kestrel::devservice::readPageDescription(text, folder);
        check(!page.id.empty() && !page.image.empty());
        for (std::size_t i = 0; i < page.actions.size(); ++i) {
            check(!page.actions[i].id.empty() && !page.actions[i].name.empty());
            for (std::size_t j = 0; j < i; ++j) check(page.actions[i].id != page.actions[j].id);
        }
    } catch (const std::runtime_error&) {
        // the reader refused the description: what it is for
    }
    return 0;
}
