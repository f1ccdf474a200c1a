// The memory that photo decoding may take at once, shared by every request: a decode reserves
// what it may need and waits while other decodes hold the rest, so that many small uploads that
// declare huge images cannot together exhaust the service's memory.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace kestrel::devservice {

class DecodeBudget {
public:
    // At most decodes at once, together reserving at most bytes.
    DecodeBudget(std::size_t bytes, std::size_t decodes);

    // A reservation, returned to the budget when it ends.
    class Lease {
    public:
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;

    private:
        friend class DecodeBudget;
        Lease(DecodeBudget& budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
        DecodeBudget& budget_;
        std::size_t bytes_;
    };

    // Waits until bytes (at most the whole budget) are free and a decode may start.
    [[nodiscard]] Lease reserve(std::size_t bytes);

private:
    std::mutex mutex_;
    std::condition_variable released_;
    std::size_t freeBytes_, freeDecodes_;
    const std::size_t totalBytes_;
};

} // namespace kestrel::devservice
