#include "binary_index.hpp"

#include <opencv2/core/hal/hal.hpp>

#include <algorithm>
#include <bit>
#include <climits>
#include <numeric>
#include <random>

namespace kestrel::devservice {
namespace {

// The key bits of every table come from this series, so that an index over the same descriptors
// answers the same way at every start.
constexpr std::uint32_t kKeySeries = 20240611;

// Every change of a key by up to level bits, fewest bits first.
std::vector<std::uint32_t> probesUpTo(int keyBits, int level) {
    std::vector<std::uint32_t> probes;
    for (int bits = 0; bits <= level; ++bits)
        for (std::uint32_t change = 0; change < (std::uint32_t(1) << keyBits); ++change)
            if (std::popcount(change) == bits) probes.push_back(change);
    return probes;
}

} // namespace

BinaryIndex::BinaryIndex(const cv::Mat& descriptors, int tables, int keyBits, int probeLevel)
    : descriptors_(descriptors) {
    CV_Assert(descriptors.type() == CV_8UC1 && descriptors.isContinuous());
    CV_Assert(tables >= 1 && keyBits >= 1 && keyBits <= 24 && keyBits <= descriptors.cols * 8);
    CV_Assert(probeLevel >= 0 && probeLevel <= 2);
    probes_ = probesUpTo(keyBits, probeLevel);
    std::mt19937 random(kKeySeries);
    std::vector<int> bits(std::size_t(descriptors.cols) * 8);
    tables_.resize(std::size_t(tables));
    for (Table& table : tables_) {
        std::iota(bits.begin(), bits.end(), 0);
        std::shuffle(bits.begin(), bits.end(), random);
        for (int i = 0; i < keyBits; ++i) {
            const int byte = bits[std::size_t(i)] / 8, mask = 1 << (bits[std::size_t(i)] % 8);
            auto at = std::find(table.keyBytes.begin(), table.keyBytes.end(), byte);
            if (at == table.keyBytes.end()) {
                table.keyBytes.push_back(byte);
                table.keyParts.emplace_back().fill(0);
                at = table.keyBytes.end() - 1;
            }
            auto& parts = table.keyParts[std::size_t(at - table.keyBytes.begin())];
            for (int value = 0; value < 256; ++value)
                if (value & mask) parts[std::size_t(value)] |= std::uint32_t(1) << i;
        }
    }
    const auto rows = std::size_t(descriptors.rows);
    cv::parallel_for_(cv::Range(0, tables), [&](const cv::Range& range) {
        std::vector<std::uint32_t> keys(rows);
        for (int t = range.start; t < range.end; ++t) {
            Table& table = tables_[std::size_t(t)];
            // Counting sort by key: count each key, turn the counts into starts, then file.
            table.start.assign((std::size_t(1) << keyBits) + 1, 0);
            for (std::size_t row = 0; row < rows; ++row) {
                keys[row] = key(table, descriptors.ptr<std::uint8_t>(int(row)));
                ++table.start[keys[row] + 1];
            }
            std::partial_sum(table.start.begin(), table.start.end(), table.start.begin());
            table.rows.resize(rows);
            std::vector<std::uint32_t> next(table.start.begin(), table.start.end() - 1);
            for (std::size_t row = 0; row < rows; ++row)
                table.rows[next[keys[row]]++] = std::uint32_t(row);
        }
    });
}

std::uint32_t BinaryIndex::key(const Table& table, const std::uint8_t* descriptor) const {
    std::uint32_t key = 0;
    for (std::size_t i = 0; i < table.keyBytes.size(); ++i)
        key |= table.keyParts[i][descriptor[table.keyBytes[i]]];
    return key;
}

void BinaryIndex::knnSearch(cv::InputArray queriesArray, cv::OutputArray indicesArray,
                            cv::OutputArray distancesArray, int knn) const {
    const cv::Mat queries = queriesArray.getMat();
    CV_Assert(queries.type() == CV_8UC1 && queries.cols == descriptors_.cols && knn >= 1);
    indicesArray.create(queries.rows, knn, CV_32S);
    distancesArray.create(queries.rows, knn, CV_32S);
    cv::Mat indices = indicesArray.getMat(), distances = distancesArray.getMat();
    const auto k = std::size_t(knn);
    std::vector<std::pair<int, int>> best; // distance, row; nearest first
    for (int q = 0; q < queries.rows; ++q) {
        const std::uint8_t* query = queries.ptr<std::uint8_t>(q);
        best.assign(k, {INT_MAX, -1});
        for (const Table& table : tables_) {
            const std::uint32_t own = key(table, query);
            for (std::uint32_t probe : probes_) {
                const std::uint32_t bucket = own ^ probe;
                for (std::uint32_t at = table.start[bucket]; at < table.start[bucket + 1]; ++at) {
                    const auto row = int(table.rows[at]);
                    const int distance = cv::hal::normHamming(
                        query, descriptors_.ptr<std::uint8_t>(row), descriptors_.cols);
                    if (distance >= best.back().first) continue;
                    // A row filed in several tables counts once.
                    if (std::any_of(best.begin(), best.end(),
                                    [&](const auto& entry) { return entry.second == row; }))
                        continue;
                    best.back() = {distance, row};
                    std::sort(best.begin(), best.end());
                }
            }
        }
        for (std::size_t i = 0; i < k; ++i) {
            distances.at<int>(q, int(i)) = best[i].first;
            indices.at<int>(q, int(i)) = best[i].second;
        }
    }
}

} // namespace kestrel::devservice
