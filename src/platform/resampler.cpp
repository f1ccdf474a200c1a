#include "platform/resampler.hpp"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace kestrel::platform::resampling {

namespace {

constexpr int kBits = AxisWeights::weightBits;
// The vertical sums keep 7 fractional bits in 16-bit lanes: 255 × 128 = 32640 fits an int16.
constexpr int kRowShift = kBits - 7;
// Fixed-point Rec. 601 luminance, summing to 65536.
// How far ahead of the current column each source row is fetched, in bytes.
constexpr std::size_t kPrefetch = 512;
constexpr std::uint32_t kLumaR = 19595, kLumaG = 38470, kLumaB = 7471;

// Floating-point weights of one output pixel: first source index and one weight per index.
struct Taps {
    int first = 0;
    std::vector<double> w;
};

Taps tapsFor(int i, int srcLen, double scale) {
    Taps t;
    if (scale < 1.0) {
        // Area average: output pixel i covers [i, i + 1) of the output, [a, b) of the source.
        const double f = 1.0 / scale;
        const double a = std::clamp(i * f, 0.0, static_cast<double>(srcLen));
        const double b = std::clamp((i + 1) * f, a, static_cast<double>(srcLen));
        int lo = static_cast<int>(std::floor(a));
        int hi = std::max(lo + 1, static_cast<int>(std::ceil(b)));
        hi = std::min(hi, srcLen);
        lo = std::min(lo, hi - 1);
        t.first = lo;
        for (int k = lo; k < hi; ++k)
            t.w.push_back(
                std::max(0.0, std::min(b, k + 1.0) - std::max(a, static_cast<double>(k))));
    } else {
        // Linear interpolation between the two source centres around the output centre.
        const double c = std::clamp((i + 0.5) / scale - 0.5, 0.0, srcLen - 1.0);
        const int k = static_cast<int>(std::floor(c));
        const double frac = c - k;
        t.first = k;
        t.w.push_back(1.0 - frac);
        if (k + 1 < srcLen) t.w.push_back(frac);
    }
    double sum = 0;
    for (double w : t.w) sum += w;
    if (sum <= 0) { // a degenerate sliver: take the nearest pixel
        t.w.assign(1, 1.0);
        sum = 1.0;
    }
    for (double& w : t.w) w /= sum;
    return t;
}

} // namespace

AxisWeights axisWeights(int srcLen, int dstLen, double span, int tapMultiple) {
    AxisWeights out;
    const double scale = span / srcLen; // output pixels per source pixel
    std::vector<Taps> all;
    all.reserve(static_cast<std::size_t>(dstLen));
    std::size_t taps = 1;
    for (int i = 0; i < dstLen; ++i) {
        all.push_back(tapsFor(i, srcLen, scale));
        taps = std::max(taps, all.back().w.size());
    }
    taps = (taps + tapMultiple - 1) / tapMultiple * tapMultiple;
    out.taps = static_cast<int>(taps);
    out.start.resize(all.size());
    out.weights.assign(all.size() * taps, 0);
    for (std::size_t i = 0; i < all.size(); ++i) {
        out.start[i] = all[i].first;
        // Cumulative rounding: every weight is within one unit of its exact value and the
        // weights sum exactly to weightTotal, so flat areas stay exactly flat.
        double cumulative = 0;
        long previous = 0;
        const std::size_t n = all[i].w.size();
        for (std::size_t k = 0; k < n; ++k) {
            cumulative += all[i].w[k];
            const long rounded = k + 1 == n ? AxisWeights::weightTotal
                                            : std::lround(cumulative * AxisWeights::weightTotal);
            out.weights[i * taps + k] = static_cast<std::int16_t>(rounded - previous);
            previous = rounded;
        }
    }
    return out;
}

namespace {

// True when all four alpha bytes of the 16 bytes are 255.
inline bool opaque(__m128i v) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, alpha), alpha)) == 0xFFFF;
}

inline void premultiply(std::uint8_t* px, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 4) {
        const unsigned a = px[i + 3];
        for (int c = 0; c < 3; ++c)
            px[i + c] = static_cast<std::uint8_t>((px[i + c] * a + 127) / 255);
    }
}

// Loads 16 bytes of a row; straight-alpha pixels are premultiplied on the way.
inline __m128i load16(const std::uint8_t* p, bool straight) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    if (straight && !opaque(v)) {
        alignas(16) std::uint8_t tmp[16];
        std::memcpy(tmp, p, 16);
        premultiply(tmp, 16);
        v = _mm_load_si128(reinterpret_cast<const __m128i*>(tmp));
    }
    return v;
}

inline std::uint8_t sourceByte(const std::uint8_t* row, std::size_t i, bool straight) {
    if (!straight || (i & 3) == 3) return row[i];
    const std::size_t px = i & ~std::size_t{3};
    return static_cast<std::uint8_t>((row[i] * unsigned{row[px + 3]} + 127) / 255);
}

// Weighted sums of count source rows, byte by byte, narrowed to 16 bits with 7 fractional bits.
// Each 16-byte column is summed over all rows in registers, so the sums never round-trip
// through memory. pairWeights[k] holds the weights of rows 2k and 2k+1 as two int16s (an odd
// count is padded with a zero weight on a repeated row).
void sumRows(const std::uint8_t* const* rows, const std::int32_t* pairWeights, int count,
             std::size_t from, std::size_t n, bool straight, std::int16_t* out16) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kRowShift - 1));
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const int pairs = (count + 1) / 2;
    auto column = [&](std::size_t i, bool premultiplied, __m128i& opaqueAll) {
        __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
        for (int k = 0; k < pairs; ++k) {
            const std::uint8_t* a = rows[2 * k] + i;
            const std::uint8_t* b = rows[2 * k + 1] + i;
            __m128i va, vb;
            if (premultiplied) {
                va = load16(a, true);
                vb = load16(b, true);
            } else {
                // The rows are read as several parallel streams: fetch ahead of each.
                _mm_prefetch(reinterpret_cast<const char*>(a) + kPrefetch, _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(b) + kPrefetch, _MM_HINT_T0);
                va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
                vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
                opaqueAll = _mm_and_si128(opaqueAll, _mm_and_si128(va, vb));
            }
            const __m128i w = _mm_set1_epi32(pairWeights[k]);
            const __m128i alo = _mm_unpacklo_epi8(va, zero), ahi = _mm_unpackhi_epi8(va, zero);
            const __m128i blo = _mm_unpacklo_epi8(vb, zero), bhi = _mm_unpackhi_epi8(vb, zero);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w));
        }
        s0 = _mm_srai_epi32(_mm_add_epi32(s0, round), kRowShift);
        s1 = _mm_srai_epi32(_mm_add_epi32(s1, round), kRowShift);
        s2 = _mm_srai_epi32(_mm_add_epi32(s2, round), kRowShift);
        s3 = _mm_srai_epi32(_mm_add_epi32(s3, round), kRowShift);
        __m128i* o = reinterpret_cast<__m128i*>(out16 + i);
        _mm_storeu_si128(o, _mm_packs_epi32(s0, s1));
        _mm_storeu_si128(o + 1, _mm_packs_epi32(s2, s3));
    };
    std::size_t i = from;
    for (; i + 16 <= n; i += 16) {
        __m128i opaqueAll = alpha;
        column(i, false, opaqueAll);
        // Straight alpha: opaque pixels need nothing; a column with any translucent pixel is
        // summed again with its colour premultiplied.
        if (straight &&
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(opaqueAll, alpha), alpha)) != 0xFFFF)
            column(i, true, opaqueAll);
    }
    for (; i < n; ++i) {
        std::int32_t sum = 0;
        for (int k = 0; k < pairs; ++k) {
            const auto wa = static_cast<std::int16_t>(pairWeights[k] & 0xFFFF);
            const auto wb =
                static_cast<std::int16_t>(static_cast<std::uint32_t>(pairWeights[k]) >> 16);
            sum += sourceByte(rows[2 * k], i, straight) * wa +
                   sourceByte(rows[2 * k + 1], i, straight) * wb;
        }
        out16[i] = static_cast<std::int16_t>((sum + (1 << (kRowShift - 1))) >> kRowShift);
    }
}

// The same sums 32 bytes at a time with AVX2, for the processors that have it; returns how far
// it got (a multiple of 32), the rest being left to sumRows. Each 128-bit half computes what
// sumRows computes for its 16 bytes.
__attribute__((target("avx2"))) std::size_t sumRowsAvx2(const std::uint8_t* const* rows,
                                                        const std::int32_t* pairWeights, int count,
                                                        std::size_t n, bool straight,
                                                        std::int16_t* out16) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i round = _mm256_set1_epi32(1 << (kRowShift - 1));
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const int pairs = (count + 1) / 2;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i s0 = zero, s1 = zero, s2 = zero, s3 = zero, opaqueAll = alpha;
        for (int k = 0; k < pairs; ++k) {
            const std::uint8_t* a = rows[2 * k] + i;
            const std::uint8_t* b = rows[2 * k + 1] + i;
            _mm_prefetch(reinterpret_cast<const char*>(a) + kPrefetch, _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(b) + kPrefetch, _MM_HINT_T0);
            const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
            const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
            opaqueAll = _mm256_and_si256(opaqueAll, _mm256_and_si256(va, vb));
            const __m256i w = _mm256_set1_epi32(pairWeights[k]);
            const __m256i alo = _mm256_unpacklo_epi8(va, zero),
                          ahi = _mm256_unpackhi_epi8(va, zero);
            const __m256i blo = _mm256_unpacklo_epi8(vb, zero),
                          bhi = _mm256_unpackhi_epi8(vb, zero);
            s0 = _mm256_add_epi32(s0, _mm256_madd_epi16(_mm256_unpacklo_epi16(alo, blo), w));
            s1 = _mm256_add_epi32(s1, _mm256_madd_epi16(_mm256_unpackhi_epi16(alo, blo), w));
            s2 = _mm256_add_epi32(s2, _mm256_madd_epi16(_mm256_unpacklo_epi16(ahi, bhi), w));
            s3 = _mm256_add_epi32(s3, _mm256_madd_epi16(_mm256_unpackhi_epi16(ahi, bhi), w));
        }
        if (straight && _mm256_movemask_epi8(
                            _mm256_cmpeq_epi8(_mm256_and_si256(opaqueAll, alpha), alpha)) != -1) {
            sumRows(rows, pairWeights, count, i, i + 32, true, out16); // translucent: redo
            continue;
        }
        s0 = _mm256_srai_epi32(_mm256_add_epi32(s0, round), kRowShift);
        s1 = _mm256_srai_epi32(_mm256_add_epi32(s1, round), kRowShift);
        s2 = _mm256_srai_epi32(_mm256_add_epi32(s2, round), kRowShift);
        s3 = _mm256_srai_epi32(_mm256_add_epi32(s3, round), kRowShift);
        // Per half: P = bytes 0-7 | 16-23, Q = bytes 8-15 | 24-31; put them back in order.
        const __m256i p = _mm256_packs_epi32(s0, s1), q = _mm256_packs_epi32(s2, s3);
        __m256i* o = reinterpret_cast<__m256i*>(out16 + i);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(p, q, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(p, q, 0x31));
    }
    return i;
}

bool cpuHasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}

std::atomic<bool> avx2Enabled{cpuHasAvx2()};

// Pairs of horizontal weights packed as two int16s in one int32, ready for a multiply-add.
std::vector<std::int32_t> packPairs(const AxisWeights& wx) {
    std::vector<std::int32_t> pairs(wx.weights.size() / 2);
    for (std::size_t i = 0; i < pairs.size(); ++i)
        pairs[i] = static_cast<std::int32_t>(
            (std::uint32_t{static_cast<std::uint16_t>(wx.weights[2 * i + 1])} << 16) |
            static_cast<std::uint16_t>(wx.weights[2 * i]));
    return pairs;
}

// One output row from a vertically reduced row of four-channel values (7 fractional bits).
// Taps is the (even) tap count when known at compile time, 0 otherwise.
template <int Taps, bool Bgr, bool Gray>
void reduceRowRgba(const std::int16_t* rowSums, const std::vector<int>& start,
                   const std::int32_t* pairs, int taps, int dstWidth, std::uint8_t* dst) {
    if constexpr (Taps != 0) taps = Taps;
    // The sums hold the channel values with 7 + weightBits fractional bits.
    constexpr int shift = 7 + kBits;
    const __m128i round = _mm_set1_epi32(1 << (shift - 1));
    for (int x = 0; x < dstWidth; ++x) {
        const std::int16_t* src = rowSums + static_cast<std::size_t>(start[x]) * 4;
        const std::int32_t* w = pairs + static_cast<std::size_t>(x) * (taps / 2);
        __m128i sum = _mm_setzero_si128();
        for (int t = 0; t < taps; t += 2) {
            // Two pixels R0 G0 B0 A0 R1 G1 B1 A1, paired per channel for one multiply-add.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + t * 4));
            const __m128i channelPairs = _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(channelPairs, _mm_set1_epi32(w[t / 2])));
        }
        if constexpr (Bgr) sum = _mm_shuffle_epi32(sum, _MM_SHUFFLE(3, 0, 1, 2));
        if constexpr (Gray) {
            alignas(16) std::uint32_t c[4];
            _mm_store_si128(reinterpret_cast<__m128i*>(c), _mm_srli_epi32(sum, shift - 8));
            dst[x] = static_cast<std::uint8_t>(
                (kLumaR * c[0] + kLumaG * c[1] + kLumaB * c[2] + (1u << 23)) >> 24);
        } else {
            const __m128i v = _mm_srai_epi32(_mm_add_epi32(sum, round), shift);
            const __m128i packed = _mm_packs_epi32(v, v);
            const int rgba = _mm_cvtsi128_si32(_mm_packus_epi16(packed, packed));
            std::memcpy(dst + static_cast<std::size_t>(x) * 4, &rgba, 4);
        }
    }
}

template <bool Bgr, bool Gray>
void reduceRowRgba(const std::int16_t* rowSums, const AxisWeights& wx, const std::int32_t* pairs,
                   int dstWidth, std::uint8_t* dst) {
    switch (wx.taps) {
    case 2:
        return reduceRowRgba<2, Bgr, Gray>(rowSums, wx.start, pairs, 2, dstWidth, dst);
    case 4:
        return reduceRowRgba<4, Bgr, Gray>(rowSums, wx.start, pairs, 4, dstWidth, dst);
    case 6:
        return reduceRowRgba<6, Bgr, Gray>(rowSums, wx.start, pairs, 6, dstWidth, dst);
    default:
        return reduceRowRgba<0, Bgr, Gray>(rowSums, wx.start, pairs, wx.taps, dstWidth, dst);
    }
}

void reduceRowGray(const std::int16_t* rowSums, const AxisWeights& wx, int dstWidth, Output output,
                   std::uint8_t* dst) {
    constexpr int shift = 7 + kBits;
    for (int x = 0; x < dstWidth; ++x) {
        const std::int16_t* src = rowSums + wx.start[x];
        const std::int16_t* w = wx.weights.data() + static_cast<std::size_t>(x) * wx.taps;
        std::int32_t sum = 0;
        for (int t = 0; t < wx.taps; ++t) sum += src[t] * w[t];
        const auto v =
            static_cast<std::uint8_t>(std::clamp((sum + (1 << (shift - 1))) >> shift, 0, 255));
        if (output == Output::gray) {
            dst[x] = v;
        } else {
            std::uint8_t* o = dst + static_cast<std::size_t>(x) * 4;
            o[0] = o[1] = o[2] = v;
            o[3] = 255;
        }
    }
}

} // namespace

bool enableAvx2(bool enabled) {
    const bool available = cpuHasAvx2();
    avx2Enabled = enabled && available;
    return available;
}

void draw(const Bitmap& src, double spanWidth, double spanHeight, int dstWidth, int dstHeight,
          Output output, std::uint8_t* dst, std::size_t dstStride) {
    const int channels = bytesPerPixel(src.format());
    const bool straight = src.format() == PixelFormat::rgba8 || src.format() == PixelFormat::bgra8;
    const bool bgr =
        src.format() == PixelFormat::bgra8 || src.format() == PixelFormat::bgra8Premultiplied;
    const AxisWeights wx = axisWeights(src.pixelWidth(), dstWidth, spanWidth, 2);
    const AxisWeights wy = axisWeights(src.pixelHeight(), dstHeight, spanHeight, 1);

    const std::size_t rowBytes = static_cast<std::size_t>(src.pixelWidth()) * channels;
    // Row sums, padded with zeros so that every output pixel can read its full tap count.
    std::vector<std::int16_t> rowSums(rowBytes + static_cast<std::size_t>(wx.taps + 2) * channels,
                                      0);
    const std::vector<std::int32_t> pairs = packPairs(wx);
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(wy.taps) + 1);
    std::vector<std::int32_t> pairWeights(static_cast<std::size_t>(wy.taps) / 2 + 1);

    for (int y = 0; y < dstHeight; ++y) {
        const std::int16_t* w = wy.weights.data() + static_cast<std::size_t>(y) * wy.taps;
        int count = wy.taps;
        while (count > 1 && w[count - 1] == 0) --count; // only rows that contribute
        for (int t = 0; t < count; ++t) rows[t] = src.row(wy.start[y] + t);
        rows[count] = rows[count - 1];
        for (int t = 0; t < count; t += 2) {
            const auto wa = static_cast<std::uint16_t>(w[t]);
            const auto wb = static_cast<std::uint16_t>(t + 1 < count ? w[t + 1] : 0);
            pairWeights[t / 2] = static_cast<std::int32_t>((std::uint32_t{wb} << 16) | wa);
        }
        const std::size_t done = avx2Enabled.load(std::memory_order_relaxed)
                                     ? sumRowsAvx2(rows.data(), pairWeights.data(), count, rowBytes,
                                                   straight, rowSums.data())
                                     : 0;
        sumRows(rows.data(), pairWeights.data(), count, done, rowBytes, straight, rowSums.data());
        std::uint8_t* out = dst + static_cast<std::size_t>(y) * dstStride;
        if (channels == 4) {
            const bool gray = output == Output::gray;
            if (bgr)
                gray ? reduceRowRgba<true, true>(rowSums.data(), wx, pairs.data(), dstWidth, out)
                     : reduceRowRgba<true, false>(rowSums.data(), wx, pairs.data(), dstWidth, out);
            else
                gray ? reduceRowRgba<false, true>(rowSums.data(), wx, pairs.data(), dstWidth, out)
                     : reduceRowRgba<false, false>(rowSums.data(), wx, pairs.data(), dstWidth, out);
        } else
            reduceRowGray(rowSums.data(), wx, dstWidth, output, out);
    }
}

} // namespace kestrel::platform::resampling
