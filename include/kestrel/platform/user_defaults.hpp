/// \file
/// The per-application key-value store that keeps the library's settings (and may keep the host's
/// own): typed values that survive restarts of the process and of the machine.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kestrel::platform {

/// A stored value keeps its type: text, a Boolean, or a 64-bit float. A Boolean is never read back
/// as text and text never as a Boolean.
using DefaultsValue = std::variant<std::string, bool, double>;

/// A per-application key-value store of typed values. Every operation may be called from any
/// thread; the last write of a key wins. No operation throws: a read that cannot be served gives
/// absent. A write is seen by reads in this process at once; one that cannot be stored is kept in
/// memory until the process ends, with one diagnostic line.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;

    /// The value stored under key, or absent.
    virtual std::optional<DefaultsValue> valueForKey(std::string_view key) = 0;
    /// Stores value under key, replacing any earlier value; durable once it returns, unless another
    /// process holds the file's write lock: then the write is finished later, in order, on the
    /// store's own queue, and the call returns without waiting for it.
    virtual void setValue(std::string_view key, const DefaultsValue& value) = 0;
    /// Removes the value stored under key, if any.
    virtual void removeObjectForKey(std::string_view key) = 0;

    // Typed reads with the platform's conversions.

    /// The text stored under key; absent when there is none or the value is not text.
    std::optional<std::string> stringForKey(std::string_view key);
    /// A Boolean, a number other than 0, or the texts "true"/"yes"/"YES"/"1"... read as true;
    /// false when absent.
    bool boolForKey(std::string_view key);
    /// A number (or numeric text) at single precision; 0 when absent, not a number or beyond the
    /// single-precision range.
    float floatForKey(std::string_view key);

    /// The process-wide store the library uses. Until a host or test sets another, it is the
    /// SQLite file at defaultPath(), opened on first use.
    static std::shared_ptr<UserDefaults> standard();
    /// Replaces the process-wide store; null goes back to the SQLite file at defaultPath(), opened
    /// again on next use. Any thread.
    static void setStandard(std::shared_ptr<UserDefaults> store);

    /// A store kept in an SQLite file at path. The file and its folder are created when missing,
    /// owner-only (0600 / 0700) since the store holds the API key; wider rights on existing ones
    /// are taken back. A folder that is a link, or that another user owns or controls, is not
    /// used: the settings are then kept in memory. A folder that cannot be written is read, and
    /// changes are kept in memory. Anything at path that is not a settings database is set aside
    /// as `path.damaged-<UTC time>` (the five newest are kept) and a fresh store begins.
    /// Destroying the store finishes the writes still waiting for another process's lock, waiting
    /// up to 5 s for it, before it returns.
    static std::shared_ptr<UserDefaults> openFile(const std::filesystem::path& path);

    /// $XDG_CONFIG_HOME (else ~/.config) / `<application name>` / "defaults.sqlite", where the
    /// application name is the host's bundle identifier when it gave one, else the executable's
    /// name.
    static std::filesystem::path defaultPath();
};

} // namespace kestrel::platform
