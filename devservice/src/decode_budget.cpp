#include "decode_budget.hpp"

#include <algorithm>

namespace kestrel::devservice {

DecodeBudget::DecodeBudget(std::size_t bytes, std::size_t decodes)
    : freeBytes_(bytes), freeDecodes_(std::max<std::size_t>(decodes, 1)), totalBytes_(bytes) {}

DecodeBudget::Lease DecodeBudget::reserve(std::size_t bytes) {
    bytes = std::min(bytes, totalBytes_);
    std::unique_lock lock(mutex_);
    released_.wait(lock, [&] { return freeDecodes_ > 0 && freeBytes_ >= bytes; });
    --freeDecodes_;
    freeBytes_ -= bytes;
    return Lease(*this, bytes);
}

DecodeBudget::Lease::~Lease() {
    {
        std::lock_guard lock(budget_.mutex_);
        ++budget_.freeDecodes_;
        budget_.freeBytes_ += bytes_;
    }
    budget_.released_.notify_all();
}

} // namespace kestrel::devservice
