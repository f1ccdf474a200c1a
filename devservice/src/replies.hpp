// The JSON bodies the service answers with.
#pragma once

#include "catalogue_store.hpp"
#include "page.hpp"

#include <string>
#include <vector>

namespace kestrel::devservice {

// A recognised page in the enriched-image form: style and content dictionaries travel as JSON
// texts inside strings, the JPEG quality of the scan preferences as a decimal text.
std::string enrichedImageReply(const Page& page, const std::string& sessionId);

struct PictureCandidate {
    const Page* page;
    std::string sessionId;
    double score; // in [0, 1]
};
// A JSON list of pictures, in the given (ranked) order; "[]" when there are none.
std::string pictureSearchReply(const std::vector<PictureCandidate>& candidates);

// Sessions and clicks per page and action, with totals.
std::string statsReply(const std::vector<PageStats>& stats);

} // namespace kestrel::devservice
