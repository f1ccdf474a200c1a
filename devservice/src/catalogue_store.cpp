#include "catalogue_store.hpp"

#include "session_ids.hpp"

#include <sqlite3.h>

#include <chrono>
#include <map>
#include <stdexcept>

namespace kestrel::devservice {
namespace {

constexpr const char* kSchema = R"sql(
PRAGMA foreign_keys = ON;
PRAGMA journal_mode = WAL;
CREATE TABLE IF NOT EXISTS pages (
    id TEXT PRIMARY KEY,
    document_id TEXT, organization_id TEXT, title TEXT, title_style TEXT, language TEXT,
    thumbnail_url TEXT, data TEXT, sort_order INTEGER, auto_trigger INTEGER,
    jpeg_quality REAL, black_and_white INTEGER, longest_side REAL,
    image BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS actions (
    page_id TEXT NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
    id TEXT NOT NULL, position INTEGER NOT NULL, name TEXT NOT NULL, kind TEXT NOT NULL,
    priority INTEGER, sort_order INTEGER, icon TEXT, background_image TEXT, style TEXT, content TEXT,
    PRIMARY KEY (page_id, id));
-- Each page's features and look as the recogniser took them from its image, under the
-- fingerprint of the way they were taken, so that the service need not take them again at every
-- start. The look comes last: a start reads the features of every row, not their looks.
CREATE TABLE IF NOT EXISTS page_features (
    page_id TEXT PRIMARY KEY REFERENCES pages(id) ON DELETE CASCADE,
    fingerprint TEXT NOT NULL, record BLOB NOT NULL, look BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS api_keys (key TEXT PRIMARY KEY, added_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS sessions (
    id TEXT PRIMARY KEY,
    page_id TEXT NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
    api_key TEXT, opened_at INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS clicks (
    session_id TEXT NOT NULL REFERENCES sessions(id) ON DELETE CASCADE,
    action_id TEXT NOT NULL, clicked_at INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS clicks_by_session ON clicks(session_id);
-- What the statistics count, kept up to date with every session and click, so that reading
-- them does not go through every session.
CREATE TABLE IF NOT EXISTS session_counts (
    api_key TEXT NOT NULL, page_id TEXT NOT NULL, sessions INTEGER NOT NULL,
    PRIMARY KEY (api_key, page_id));
CREATE TABLE IF NOT EXISTS click_counts (
    api_key TEXT NOT NULL, page_id TEXT NOT NULL, action_id TEXT NOT NULL, clicks INTEGER NOT NULL,
    PRIMARY KEY (api_key, page_id, action_id));
)sql";

// Fills the counts from the sessions and clicks of a file written before they were kept.
constexpr int kCountsVersion = 1;
constexpr const char* kCountExisting = R"sql(
DELETE FROM session_counts;
DELETE FROM click_counts;
INSERT INTO session_counts
    SELECT coalesce(api_key, ''), page_id, count(*) FROM sessions GROUP BY 1, 2;
INSERT INTO click_counts
    SELECT coalesce(s.api_key, ''), s.page_id, c.action_id, count(*)
    FROM clicks c JOIN sessions s ON s.id = c.session_id GROUP BY 1, 2, 3;
PRAGMA user_version = 1;
)sql";

void runSql(sqlite3* db, const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string reason = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("SQLite: " + reason);
    }
}

// Runs work inside one transaction (BEGIN IMMEDIATE for writes, BEGIN for a consistent read),
// rolled back when it throws.
template <typename Work>
auto inTransaction(sqlite3* db, const char* begin, Work work) {
    runSql(db, begin);
    try {
        auto result = work();
        runSql(db, "COMMIT");
        return result;
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

sqlite3* open(const std::filesystem::path& file, int flags) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, flags, nullptr) != SQLITE_OK) {
        const std::string reason = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + file.string() + ": " + reason);
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

std::int64_t now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One prepared statement; binds by position from 1, finalised on scope exit.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(int index, std::string_view text) {
        sqlite3_bind_text(statement_, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        return bind(index, std::string_view(text));
    }
    Statement& bind(int index, const std::optional<std::string>& text) {
        return text ? bind(index, std::string_view(*text)) : bindNull(index);
    }
    Statement& bind(int index, std::int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    Statement& bind(int index, const std::optional<std::int64_t>& value) {
        return value ? bind(index, *value) : bindNull(index);
    }
    Statement& bind(int index, const std::optional<bool>& value) {
        return value ? bind(index, std::int64_t(*value)) : bindNull(index);
    }
    Statement& bind(int index, const std::optional<double>& value) {
        if (!value) return bindNull(index);
        sqlite3_bind_double(statement_, index, *value);
        return *this;
    }
    Statement& bind(int index, const std::vector<unsigned char>& blob) {
        sqlite3_bind_blob(statement_, index, blob.data(), int(blob.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bindNull(int index) {
        sqlite3_bind_null(statement_, index);
        return *this;
    }

    // Ready to run again with new values.
    void reset() { sqlite3_reset(statement_); }

    // True while there is a row to read.
    bool step() {
        const int status = sqlite3_step(statement_);
        if (status == SQLITE_ROW) return true;
        if (status == SQLITE_DONE) return false;
        throw std::runtime_error(std::string("SQLite: ") + sqlite3_errmsg(db_));
    }

    bool isNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    std::string text(int column) const {
        const auto* bytes = sqlite3_column_text(statement_, column);
        return bytes ? std::string(reinterpret_cast<const char*>(bytes),
                                   std::size_t(sqlite3_column_bytes(statement_, column)))
                     : std::string();
    }
    std::optional<std::string> optionalText(int column) const {
        if (isNull(column)) return std::nullopt;
        return text(column);
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(statement_, column); }
    std::optional<std::int64_t> optionalInteger(int column) const {
        if (isNull(column)) return std::nullopt;
        return integer(column);
    }
    std::optional<double> optionalReal(int column) const {
        if (isNull(column)) return std::nullopt;
        return sqlite3_column_double(statement_, column);
    }
    std::vector<unsigned char> blob(int column) const {
        const auto* bytes =
            static_cast<const unsigned char*>(sqlite3_column_blob(statement_, column));
        return {bytes, bytes + sqlite3_column_bytes(statement_, column)};
    }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

constexpr const char* kPageColumns =
    "SELECT id, document_id, organization_id, title, title_style, language, thumbnail_url, data, "
    "sort_order, auto_trigger, jpeg_quality, black_and_white, longest_side, image FROM pages";

Page readPage(const Statement& row) {
    Page page;
    page.id = row.text(0);
    page.documentId = row.optionalText(1);
    page.organizationId = row.optionalText(2);
    page.title = row.optionalText(3);
    page.titleStyle = row.optionalText(4);
    page.language = row.optionalText(5);
    page.thumbnailUrl = row.optionalText(6);
    page.data = row.optionalText(7);
    page.order = row.optionalInteger(8);
    if (auto flag = row.optionalInteger(9)) page.autoTrigger = *flag != 0;
    page.scanPreferences.jpegQuality = row.optionalReal(10);
    if (auto flag = row.optionalInteger(11)) page.scanPreferences.blackAndWhite = *flag != 0;
    page.scanPreferences.longestSideSizePx = row.optionalReal(12);
    page.image = row.blob(13);
    return page;
}

std::vector<PageAction> readActions(sqlite3* db, std::string_view pageId) {
    Statement query(db, "SELECT id, name, kind, priority, sort_order, icon, background_image, "
                        "style, content FROM actions WHERE page_id = ? ORDER BY position");
    query.bind(1, pageId);
    std::vector<PageAction> actions;
    while (query.step())
        actions.push_back({query.text(0), query.text(1), query.text(2), query.optionalInteger(3),
                           query.optionalInteger(4), query.optionalText(5), query.optionalText(6),
                           query.optionalText(7), query.optionalText(8)});
    return actions;
}

} // namespace

CatalogueStore::CatalogueStore(const std::filesystem::path& file)
    : db_(open(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)) {
    try {
        runSql(db_, kSchema);
        inTransaction(db_, "BEGIN IMMEDIATE", [&] {
            Statement version(db_, "PRAGMA user_version");
            if (version.step() && version.integer(0) < kCountsVersion) runSql(db_, kCountExisting);
            return 0;
        });
        reader_ = open(file, SQLITE_OPEN_READONLY);
    } catch (...) {
        sqlite3_close(db_);
        throw;
    }
}

CatalogueStore::~CatalogueStore() {
    sqlite3_close(reader_);
    sqlite3_close(db_);
}

void CatalogueStore::execute(const char* sql) const { runSql(db_, sql); }

void CatalogueStore::putPage(const Page& page) {
    std::lock_guard lock(mutex_);
    execute("BEGIN IMMEDIATE");
    try {
        // Features taken from another image are stale.
        Statement(db_, "DELETE FROM page_features WHERE page_id = ?1 AND NOT EXISTS "
                       "(SELECT 1 FROM pages WHERE id = ?1 AND image = ?2)")
            .bind(1, page.id)
            .bind(2, page.image)
            .step();
        // An update in place keeps the page's sessions and clicks; its actions are replaced.
        Statement insert(db_, "INSERT INTO pages VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) "
                              "ON CONFLICT(id) DO UPDATE SET document_id = excluded.document_id, "
                              "organization_id = excluded.organization_id, title = excluded.title, "
                              "title_style = excluded.title_style, language = excluded.language, "
                              "thumbnail_url = excluded.thumbnail_url, data = excluded.data, "
                              "sort_order = excluded.sort_order, "
                              "auto_trigger = excluded.auto_trigger, "
                              "jpeg_quality = excluded.jpeg_quality, "
                              "black_and_white = excluded.black_and_white, "
                              "longest_side = excluded.longest_side, image = excluded.image");
        insert.bind(1, page.id).bind(2, page.documentId).bind(3, page.organizationId);
        insert.bind(4, page.title).bind(5, page.titleStyle).bind(6, page.language);
        insert.bind(7, page.thumbnailUrl).bind(8, page.data).bind(9, page.order);
        insert.bind(10, page.autoTrigger).bind(11, page.scanPreferences.jpegQuality);
        insert.bind(12, page.scanPreferences.blackAndWhite);
        insert.bind(13, page.scanPreferences.longestSideSizePx).bind(14, page.image);
        insert.step();
        Statement(db_, "DELETE FROM actions WHERE page_id = ?").bind(1, page.id).step();
        std::int64_t position = 0;
        for (const PageAction& action : page.actions) {
            Statement row(db_, "INSERT INTO actions VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            row.bind(1, page.id).bind(2, action.id).bind(3, position++).bind(4, action.name);
            row.bind(5, action.kind).bind(6, action.priority).bind(7, action.order);
            row.bind(8, action.icon).bind(9, action.backgroundImage).bind(10, action.style);
            row.bind(11, action.content).step();
        }
        execute("COMMIT");
    } catch (...) {
        execute("ROLLBACK");
        throw;
    }
}

std::vector<Page> CatalogueStore::pages() const {
    std::lock_guard lock(mutex_);
    Statement query(db_, (std::string(kPageColumns) + " ORDER BY id").c_str());
    std::vector<Page> pages;
    while (query.step()) pages.push_back(readPage(query));
    for (Page& page : pages) page.actions = readActions(db_, page.id);
    return pages;
}

std::optional<Page> CatalogueStore::page(std::string_view id) const {
    std::lock_guard lock(mutex_);
    Statement query(db_, (std::string(kPageColumns) + " WHERE id = ?").c_str());
    query.bind(1, id);
    if (!query.step()) return std::nullopt;
    Page page = readPage(query);
    page.actions = readActions(db_, page.id);
    return page;
}

std::vector<Page> CatalogueStore::pagesWithoutImages() const {
    std::lock_guard lock(mutex_);
    Statement query(db_, "SELECT id, document_id, organization_id, title, title_style, language, "
                         "thumbnail_url, data, sort_order, auto_trigger, jpeg_quality, "
                         "black_and_white, longest_side, NULL FROM pages ORDER BY id");
    std::vector<Page> pages;
    std::map<std::string, std::size_t, std::less<>> byId;
    while (query.step()) {
        pages.push_back(readPage(query));
        byId.emplace(pages.back().id, pages.size() - 1);
    }
    // The actions of every page in one pass rather than one query per page.
    Statement actions(db_, "SELECT page_id, id, name, kind, priority, sort_order, icon, "
                           "background_image, style, content FROM actions "
                           "ORDER BY page_id, position");
    while (actions.step()) {
        const auto page = byId.find(actions.text(0));
        if (page == byId.end()) continue;
        pages[page->second].actions.push_back(
            {actions.text(1), actions.text(2), actions.text(3), actions.optionalInteger(4),
             actions.optionalInteger(5), actions.optionalText(6), actions.optionalText(7),
             actions.optionalText(8), actions.optionalText(9)});
    }
    return pages;
}

std::vector<unsigned char> CatalogueStore::pageImage(std::string_view id) const {
    std::lock_guard lock(mutex_);
    Statement query(db_, "SELECT image FROM pages WHERE id = ?");
    query.bind(1, id);
    return query.step() ? query.blob(0) : std::vector<unsigned char>();
}

std::vector<std::string> CatalogueStore::pageFeatures(
    std::string_view fingerprint,
    const std::function<void(const std::string&, const std::vector<unsigned char>&)>& found) const {
    std::lock_guard lock(mutex_);
    return inTransaction(db_, "BEGIN", [&] {
        Statement query(db_, "SELECT p.id, f.record FROM pages p LEFT JOIN page_features f "
                             "ON f.page_id = p.id AND f.fingerprint = ? ORDER BY p.id");
        query.bind(1, fingerprint);
        std::vector<std::string> missing;
        while (query.step()) {
            if (query.isNull(1))
                missing.push_back(query.text(0));
            else
                found(query.text(0), query.blob(1));
        }
        return missing;
    });
}

std::vector<unsigned char> CatalogueStore::pageLook(std::string_view pageId,
                                                    std::string_view fingerprint) const {
    std::lock_guard lock(mutex_);
    Statement query(db_, "SELECT look FROM page_features WHERE page_id = ? AND fingerprint = ?");
    query.bind(1, pageId).bind(2, fingerprint);
    return query.step() ? query.blob(0) : std::vector<unsigned char>();
}

void CatalogueStore::putPageFeatures(const std::vector<FeatureRecords>& records,
                                     std::string_view fingerprint) {
    std::lock_guard lock(mutex_);
    inTransaction(db_, "BEGIN IMMEDIATE", [&] {
        Statement insert(db_, "INSERT OR REPLACE INTO page_features VALUES (?, ?, ?, ?)");
        for (const FeatureRecords& record : records) {
            insert.bind(1, record.pageId).bind(2, fingerprint);
            insert.bind(3, record.features).bind(4, record.look).step();
            insert.reset();
        }
        return 0;
    });
}

void CatalogueStore::addApiKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    Statement(db_, "INSERT OR IGNORE INTO api_keys VALUES (?, ?)")
        .bind(1, key)
        .bind(2, now())
        .step();
}

bool CatalogueStore::isApiKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    Statement query(db_, "SELECT 1 FROM api_keys WHERE key = ?");
    query.bind(1, key);
    return query.step();
}

std::string CatalogueStore::openSession(std::string_view pageId, std::string_view apiKey) {
    const std::string id = unguessableId();
    std::lock_guard lock(mutex_);
    return inTransaction(db_, "BEGIN IMMEDIATE", [&] {
        Statement insert(db_, "INSERT INTO sessions VALUES (?, ?, ?, ?)");
        insert.bind(1, id).bind(2, pageId).bind(3, apiKey).bind(4, now()).step();
        Statement(db_, "INSERT INTO session_counts VALUES (?, ?, 1) ON CONFLICT(api_key, page_id) "
                       "DO UPDATE SET sessions = sessions + 1")
            .bind(1, apiKey)
            .bind(2, pageId)
            .step();
        return id;
    });
}

ClickOutcome CatalogueStore::recordClick(std::string_view sessionId, std::string_view actionId,
                                         std::string_view apiKey) {
    std::lock_guard lock(mutex_);
    return inTransaction(db_, "BEGIN IMMEDIATE", [&] {
        Statement session(db_, "SELECT page_id FROM sessions WHERE id = ? AND api_key = ?");
        session.bind(1, sessionId).bind(2, apiKey);
        if (!session.step()) return ClickOutcome::unknownSession;
        const std::string pageId = session.text(0);
        Statement action(db_, "SELECT 1 FROM actions WHERE page_id = ? AND id = ?");
        action.bind(1, pageId).bind(2, actionId);
        if (!action.step()) return ClickOutcome::unknownAction;
        Statement(db_, "INSERT INTO clicks VALUES (?, ?, ?)")
            .bind(1, sessionId)
            .bind(2, actionId)
            .bind(3, now())
            .step();
        Statement(db_, "INSERT INTO click_counts VALUES (?, ?, ?, 1) "
                       "ON CONFLICT(api_key, page_id, action_id) "
                       "DO UPDATE SET clicks = clicks + 1")
            .bind(1, apiKey)
            .bind(2, pageId)
            .bind(3, actionId)
            .step();
        return ClickOutcome::counted;
    });
}

std::vector<PageStats> CatalogueStore::stats(std::optional<std::string_view> apiKey) const {
    // Read from the counts on a connection of its own: sessions and clicks go on being recorded
    // meanwhile.
    std::lock_guard lock(readMutex_);
    // A NULL key parameter counts every key's sessions.
    const auto bindKey = [&](Statement& statement, int index) {
        if (apiKey)
            statement.bind(index, *apiKey);
        else
            statement.bindNull(index);
    };
    return inTransaction(reader_, "BEGIN", [&] {
        std::vector<PageStats> result;
        Statement pages(reader_, "SELECT p.id, coalesce(p.title, ''), "
                                 "(SELECT coalesce(sum(c.sessions), 0) FROM session_counts c "
                                 "WHERE c.page_id = p.id AND (?1 IS NULL OR c.api_key = ?1)) "
                                 "FROM pages p ORDER BY p.id");
        bindKey(pages, 1);
        while (pages.step()) result.push_back({pages.text(0), pages.text(1), pages.integer(2), {}});
        for (PageStats& page : result) {
            Statement actions(reader_, "SELECT a.id, a.name, (SELECT coalesce(sum(c.clicks), 0) "
                                       "FROM click_counts c WHERE c.page_id = a.page_id AND "
                                       "c.action_id = a.id AND (?2 IS NULL OR c.api_key = ?2)) "
                                       "FROM actions a WHERE a.page_id = ?1 ORDER BY a.position");
            actions.bind(1, page.pageId);
            bindKey(actions, 2);
            while (actions.step())
                page.actions.push_back({actions.text(0), actions.text(1), actions.integer(2)});
        }
        return result;
    });
}

} // namespace kestrel::devservice
