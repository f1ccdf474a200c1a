// Nearest neighbours among binary descriptors (rows of bytes compared by Hamming distance) by
// locality-sensitive hashing: each of several tables files every descriptor under a key made of
// some of its bits, chosen once from a fixed series; a query is compared with the descriptors
// filed under its own key in every table (and, with multi-probe, under the keys that differ from
// it in up to probeLevel bits). Each table is two flat arrays, the descriptors' rows ordered by
// key and where each key's run starts, filled in one counting pass: building over millions of
// descriptors takes a fraction of the time that tables of one growing list per key take.
#pragma once

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <vector>

namespace kestrel::devservice {

class BinaryIndex {
public:
    // Indexes the rows of descriptors (CV_8UC1), which must outlive the index unchanged. Keys
    // of 1 to 24 bits, probe levels 0 to 2.
    BinaryIndex(const cv::Mat& descriptors, int tables, int keyBits, int probeLevel);

    // For every row of queries, the rows (CV_32S) and Hamming distances (CV_32S) of its knn
    // nearest descriptors among those filed with it, nearest first; -1 and INT_MAX where fewer
    // were found. Thread-safe: the index is not changed by a search.
    void knnSearch(cv::InputArray queries, cv::OutputArray indices, cv::OutputArray distances,
                   int knn) const;

private:
    struct Table {
        // The descriptor bytes that hold key bits, and for each the key bits that every value of
        // that byte sets: a key is one look-up per byte, without a branch per bit.
        std::vector<int> keyBytes;
        std::vector<std::array<std::uint32_t, 256>> keyParts;
        std::vector<std::uint32_t> start; // where the run of each key starts in rows
        std::vector<std::uint32_t> rows;  // descriptor rows ordered by key
    };
    std::uint32_t key(const Table& table, const std::uint8_t* descriptor) const;

    cv::Mat descriptors_;
    std::vector<Table> tables_;
    std::vector<std::uint32_t> probes_; // key changes tried in every table, 0 first
};

} // namespace kestrel::devservice
