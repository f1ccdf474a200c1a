// The service's SQLite file: the page catalogue with its actions, the API keys, one session per
// recognition, the clicks reported on a session's actions, and their counts per key, page and
// action. One connection writes and reads under a lock, so one store may serve every HTTP worker
// thread; the statistics are read from the counts on a second, read-only connection, so that
// they never hold up a recognition or a click.
#pragma once

#include "page.hpp"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace kestrel::devservice {

struct ActionClicks {
    std::string actionId;
    std::string name;
    std::int64_t clicks = 0;
};

struct PageStats {
    std::string pageId;
    std::string title;
    std::int64_t sessions = 0; // recognitions and picture-search matches of the page
    std::vector<ActionClicks> actions;
};

enum class ClickOutcome { counted, unknownSession, unknownAction };

class CatalogueStore {
public:
    // Opens (creating when missing) the file and its tables. Throws std::runtime_error.
    explicit CatalogueStore(const std::filesystem::path& file);
    ~CatalogueStore();
    CatalogueStore(const CatalogueStore&) = delete;
    CatalogueStore& operator=(const CatalogueStore&) = delete;

    // Adds the page, or replaces the page of the same id together with all its actions.
    void putPage(const Page& page);
    // Every page with its actions and image, ordered by id.
    std::vector<Page> pages() const;
    std::optional<Page> page(std::string_view id) const;
    // Every page with its actions but without its image, ordered by id; and one page's image.
    std::vector<Page> pagesWithoutImages() const;
    std::vector<unsigned char> pageImage(std::string_view id) const;

    // The recogniser's records of the pages' features and looks (see Recogniser::pageRecord),
    // kept under the fingerprint of the way they were taken. A page's records are dropped when
    // putPage changes its image; records under another fingerprint are not returned.
    // Calls found(pageId, record) for every page that has a record under fingerprint, ordered
    // by id, and returns the ids of the pages that have none. found runs under the store's lock
    // and must not call the store.
    std::vector<std::string>
    pageFeatures(std::string_view fingerprint,
                 const std::function<void(const std::string&, const std::vector<unsigned char>&)>&
                     found) const;
    // The page's look record under fingerprint; empty when there is none.
    std::vector<unsigned char> pageLook(std::string_view pageId,
                                        std::string_view fingerprint) const;
    struct FeatureRecords {
        std::string pageId;
        std::vector<unsigned char> features, look;
    };
    // Keeps the records, replacing those the pages had, in one transaction.
    void putPageFeatures(const std::vector<FeatureRecords>& records, std::string_view fingerprint);

    void addApiKey(std::string_view key);
    bool isApiKey(std::string_view key) const;

    // Opens a new session on a page for the key and returns its identifier, which cannot be
    // guessed from other sessions' identifiers.
    std::string openSession(std::string_view pageId, std::string_view apiKey);
    // Counts a click when the session exists, was opened with apiKey, and its page offers the
    // action. Another key's session is unknown to this key.
    ClickOutcome recordClick(std::string_view sessionId, std::string_view actionId,
                             std::string_view apiKey);
    // Sessions and clicks per page and action: those of apiKey, or of every key without one.
    std::vector<PageStats> stats(std::optional<std::string_view> apiKey = std::nullopt) const;

private:
    void execute(const char* sql) const;

    sqlite3* db_ = nullptr;
    mutable std::mutex mutex_;
    sqlite3* reader_ = nullptr; // for the statistics, which need not wait for db_
    mutable std::mutex readMutex_;
};

} // namespace kestrel::devservice
