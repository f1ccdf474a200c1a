#include "platform/imaging/resampler.hpp"

#include <emmintrin.h>
#include <immintrin.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numbers>

namespace kestrel::platform::resampling {

namespace {

// Vertical weights have 8 bits, so that the AVX2 path can sum rows with byte multiply-adds.
// A row sum is Σ w·(v − 128): the byte values centred on 128 with 8 fractional bits, which
// fits an int16 exactly because the weights are non-negative and sum to 256.
constexpr int kRowBits = 8;
constexpr int kRowBias = 128 << kRowBits;
// Horizontal weights have 14 bits; the horizontal sums carry 8 + 14 fractional bits.
constexpr int kColBits = 14;
constexpr int kShift = kRowBits + kColBits;
// How far ahead of the current column each source row is fetched, in bytes.
constexpr std::size_t kPrefetch = 512;
// Fixed-point Rec. 601 luminance, summing to 65536.
constexpr std::uint32_t kLumaR = 19595, kLumaG = 38470, kLumaB = 7471;

// Floating-point weights of one output pixel: first source index and one weight per index.
struct Taps {
    int first = 0;
    std::vector<double> w;
};

// The reduction kernel, u in output pixels: a sinc windowed by a quarter cosine, reaching one
// output pixel either side. It keeps more of the detail below the output's Nyquist limit than
// an area average and lets through less of what lies above it, and being positive throughout,
// a weighted sum of bytes stays within the byte range.
double reductionKernel(double u) {
    if (u >= 1) return 0;
    if (u == 0) return 1;
    const double half = std::numbers::pi * u / 2, c = std::cos(half);
    return std::sin(half) * c * c / half; // sin(2h) / 2h · cos(h)
}

Taps tapsFor(int i, int srcLen, double scale) {
    Taps t;
    const double f = 1.0 / scale; // source pixels per output pixel
    const double centre = (i + 0.5) * f - 0.5;
    if (scale < 1.0) {
        const int lo = std::clamp(static_cast<int>(std::ceil(centre - f)), 0, srcLen - 1);
        const int hi = std::clamp(static_cast<int>(std::floor(centre + f)), lo, srcLen - 1);
        t.first = lo;
        for (int k = lo; k <= hi; ++k) t.w.push_back(reductionKernel(std::abs(k - centre) / f));
    } else {
        const double c = std::clamp(centre, 0.0, srcLen - 1.0);
        const int k = static_cast<int>(std::floor(c));
        const double frac = c - k;
        t.first = k;
        t.w.push_back(1.0 - frac);
        if (k + 1 < srcLen) t.w.push_back(frac);
    }
    double sum = 0;
    for (double w : t.w) sum += w;
    // Ends that would not move an 8-bit result by half a step are left out: a kernel reaching
    // exactly one output pixel either side otherwise spans one more row for almost nothing.
    const double negligible = sum / 512;
    while (t.w.size() > 1 && t.w.back() < negligible) t.w.pop_back();
    while (t.w.size() > 1 && t.w.front() < negligible) {
        t.w.erase(t.w.begin());
        ++t.first;
    }
    sum = 0;
    for (double w : t.w) sum += w;
    if (sum <= 0) { // a degenerate sliver: take the nearest pixel
        t.w.assign(1, 1.0);
        sum = 1.0;
    }
    for (double& w : t.w) w /= sum;
    return t;
}

} // namespace

AxisWeights axisWeights(int srcLen, int dstLen, double span, int tapMultiple, int bits) {
    AxisWeights out;
    out.bits = bits;
    const double scale = span / srcLen; // output pixels per source pixel
    const long total = 1L << bits;
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
        // weights sum exactly to the total, so flat areas stay exactly flat.
        double cumulative = 0;
        long previous = 0;
        const std::size_t n = all[i].w.size();
        for (std::size_t k = 0; k < n; ++k) {
            cumulative += all[i].w[k];
            const long rounded = k + 1 == n ? total : std::lround(cumulative * total);
            out.weights[i * taps + k] = static_cast<std::int16_t>(rounded - previous);
            previous = rounded;
        }
    }
    return out;
}

namespace {

inline void premultiply(std::uint8_t* px, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; i += 4) {
        const unsigned a = px[i + 3];
        for (int c = 0; c < 3; ++c)
            px[i + c] = static_cast<std::uint8_t>((px[i + c] * a + 127) / 255);
    }
}

// True when all four alpha bytes of the 16 bytes are 255.
inline bool opaque(__m128i v) {
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, alpha), alpha)) == 0xFFFF;
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

// The centred row sums of count source rows, byte by byte, for bytes [from, n). Each 16-byte
// column is summed over all rows in registers. pairWeights[k] holds the weights of rows 2k and
// 2k+1 as two int16s (an odd count is padded with a zero weight on a repeated row).
void sumRows(const std::uint8_t* const* rows, const std::int32_t* pairWeights, int count,
             std::size_t from, std::size_t n, bool straight, std::int16_t* out16) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi32(kRowBias);
    const int pairs = (count + 1) / 2;
    std::size_t i = from;
    for (; i + 16 <= n; i += 16) {
        __m128i s0 = zero, s1 = zero, s2 = zero, s3 = zero;
        for (int k = 0; k < pairs; ++k) {
            const __m128i va = load16(rows[2 * k] + i, straight);
            const __m128i vb = load16(rows[2 * k + 1] + i, straight);
            const __m128i w = _mm_set1_epi32(pairWeights[k]);
            const __m128i alo = _mm_unpacklo_epi8(va, zero), ahi = _mm_unpackhi_epi8(va, zero);
            const __m128i blo = _mm_unpacklo_epi8(vb, zero), bhi = _mm_unpackhi_epi8(vb, zero);
            s0 = _mm_add_epi32(s0, _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w));
            s1 = _mm_add_epi32(s1, _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w));
            s2 = _mm_add_epi32(s2, _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w));
            s3 = _mm_add_epi32(s3, _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w));
        }
        __m128i* o = reinterpret_cast<__m128i*>(out16 + i);
        _mm_storeu_si128(o, _mm_packs_epi32(_mm_sub_epi32(s0, bias), _mm_sub_epi32(s1, bias)));
        _mm_storeu_si128(o + 1, _mm_packs_epi32(_mm_sub_epi32(s2, bias), _mm_sub_epi32(s3, bias)));
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
        out16[i] = static_cast<std::int16_t>(sum - kRowBias);
    }
}

// The same sums 32 bytes at a time with AVX2; returns how far it got (a multiple of 32), the
// rest being left to sumRows. The bytes, flipped to signed v − 128, are multiplied by the byte
// weights of two rows at once; no partial sum can leave the int16 range, so the result is
// exactly that of sumRows. bytePairs[k] holds the weights of rows 2k and 2k+1 as two bytes (so
// a lone row of weight 256 is left to sumRows), pairWeights the same as sumRows takes them.
__attribute__((target("avx2"))) std::size_t sumRowsAvx2(const std::uint8_t* const* rows,
                                                        const std::int16_t* bytePairs,
                                                        const std::int32_t* pairWeights, int count,
                                                        std::size_t n, bool straight,
                                                        std::int16_t* out16) {
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
    const int pairs = (count + 1) / 2;
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i lo = _mm256_setzero_si256(), hi = lo, opaqueAll = alpha;
        for (int k = 0; k < pairs; ++k) {
            const std::uint8_t* a = rows[2 * k] + i;
            const std::uint8_t* b = rows[2 * k + 1] + i;
            _mm_prefetch(reinterpret_cast<const char*>(a) + kPrefetch, _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(b) + kPrefetch, _MM_HINT_T0);
            const __m256i va = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(a));
            const __m256i vb = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b));
            opaqueAll = _mm256_and_si256(opaqueAll, _mm256_and_si256(va, vb));
            const __m256i w = _mm256_set1_epi16(bytePairs[k]);
            const __m256i sa = _mm256_xor_si256(va, flip), sb = _mm256_xor_si256(vb, flip);
            lo = _mm256_add_epi16(lo, _mm256_maddubs_epi16(w, _mm256_unpacklo_epi8(sa, sb)));
            hi = _mm256_add_epi16(hi, _mm256_maddubs_epi16(w, _mm256_unpackhi_epi8(sa, sb)));
        }
        if (straight && _mm256_movemask_epi8(
                            _mm256_cmpeq_epi8(_mm256_and_si256(opaqueAll, alpha), alpha)) != -1) {
            sumRows(rows, pairWeights, count, i, i + 32, true, out16); // translucent: redo
            continue;
        }
        // Per half: lo = bytes 0-7 | 16-23, hi = bytes 8-15 | 24-31; put them back in order.
        __m256i* o = reinterpret_cast<__m256i*>(out16 + i);
        _mm256_storeu_si256(o, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(o + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
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

// Channel sums of one output pixel (8 + 14 fractional bits, centred) to its output bytes.
template <bool Gray>
inline void storePixel(__m128i sum, std::uint8_t* dst, int x) {
    if constexpr (Gray) {
        // The luminance is taken from the channels before they are rounded to bytes.
        alignas(16) std::int32_t c[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(c), _mm_srai_epi32(sum, kColBits));
        const auto u = [&](int k) { return static_cast<std::uint32_t>(c[k] + kRowBias); };
        dst[x] = static_cast<std::uint8_t>(
            (kLumaR * u(0) + kLumaG * u(1) + kLumaB * u(2) + (1u << 23)) >> 24);
    } else {
        const __m128i offset = _mm_set1_epi32((128 << kShift) + (1 << (kShift - 1)));
        const __m128i v = _mm_srai_epi32(_mm_add_epi32(sum, offset), kShift);
        const __m128i packed = _mm_packs_epi32(v, v);
        const int rgba = _mm_cvtsi128_si32(_mm_packus_epi16(packed, packed));
        std::memcpy(dst + static_cast<std::size_t>(x) * 4, &rgba, 4);
    }
}

// Output pixels [from, dstWidth) of one row from the row sums of four-channel values. Taps is
// the (even) tap count when known at compile time, 0 otherwise.
template <int Taps, bool Bgr, bool Gray>
void reduceRowRgba(const std::int16_t* rowSums, const std::vector<int>& start,
                   const std::int32_t* pairs, int taps, int from, int dstWidth, std::uint8_t* dst) {
    if constexpr (Taps != 0) taps = Taps;
    for (int x = from; x < dstWidth; ++x) {
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
        storePixel<Gray>(sum, dst, x);
    }
}

// The same two output pixels at a time, one in each 128-bit half; returns how many it did.
// The arithmetic is that of reduceRowRgba, so the two give the same bytes.
template <int Taps, bool Bgr, bool Gray>
__attribute__((target("avx2"))) int
reduceRowRgbaAvx2(const std::int16_t* rowSums, const std::vector<int>& start,
                  const std::int32_t* pairs, int taps, int dstWidth, std::uint8_t* dst) {
    if constexpr (Taps != 0) taps = Taps;
    // R0 G0 B0 A0 R1 G1 B1 A1 → R0 R1 G0 G1 B0 B1 A0 A1 within each half.
    const __m256i channelPairs =
        _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                         11, 4, 5, 12, 13, 6, 7, 14, 15);
    const __m256i luma = _mm256_setr_epi32(kLumaR, kLumaG, kLumaB, 0, kLumaR, kLumaG, kLumaB, 0);
    const __m256i lumaRound = _mm256_set1_epi32(1 << 23);
    int x = 0;
    for (; x + 2 <= dstWidth; x += 2) {
        const std::int16_t* a = rowSums + static_cast<std::size_t>(start[x]) * 4;
        const std::int16_t* b = rowSums + static_cast<std::size_t>(start[x + 1]) * 4;
        const std::int32_t* wa = pairs + static_cast<std::size_t>(x) * (taps / 2);
        const std::int32_t* wb = wa + taps / 2;
        __m256i sum = _mm256_setzero_si256();
        for (int t = 0; t < taps; t += 2) {
            const __m256i v = _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b + t * 4),
                                                  reinterpret_cast<const __m128i*>(a + t * 4));
            const __m256i w = _mm256_setr_epi32(wa[t / 2], wa[t / 2], wa[t / 2], wa[t / 2],
                                                wb[t / 2], wb[t / 2], wb[t / 2], wb[t / 2]);
            sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_shuffle_epi8(v, channelPairs), w));
        }
        if constexpr (Bgr) sum = _mm256_shuffle_epi32(sum, _MM_SHUFFLE(3, 0, 1, 2));
        if constexpr (Gray) {
            // storePixel's luminance, both halves at once (unsigned 32-bit products and sums).
            const __m256i c =
                _mm256_add_epi32(_mm256_srai_epi32(sum, kColBits), _mm256_set1_epi32(kRowBias));
            __m256i y = _mm256_mullo_epi32(c, luma);
            y = _mm256_hadd_epi32(y, y);
            y = _mm256_srli_epi32(_mm256_add_epi32(_mm256_hadd_epi32(y, y), lumaRound), 24);
            dst[x] = static_cast<std::uint8_t>(_mm256_cvtsi256_si32(y));
            dst[x + 1] = static_cast<std::uint8_t>(_mm256_extract_epi32(y, 4));
        } else {
            storePixel<false>(_mm256_castsi256_si128(sum), dst, x);
            storePixel<false>(_mm256_extracti128_si256(sum, 1), dst, x + 1);
        }
    }
    return x;
}

template <int Taps, bool Bgr, bool Gray>
void reduceRowRgba(const std::int16_t* rowSums, const AxisWeights& wx, const std::int32_t* pairs,
                   int dstWidth, std::uint8_t* dst) {
    const int done =
        avx2Enabled.load(std::memory_order_relaxed)
            ? reduceRowRgbaAvx2<Taps, Bgr, Gray>(rowSums, wx.start, pairs, wx.taps, dstWidth, dst)
            : 0;
    reduceRowRgba<Taps, Bgr, Gray>(rowSums, wx.start, pairs, wx.taps, done, dstWidth, dst);
}

template <bool Bgr, bool Gray>
void reduceRowRgba(const std::int16_t* rowSums, const AxisWeights& wx, const std::int32_t* pairs,
                   int dstWidth, std::uint8_t* dst) {
    switch (wx.taps) {
    case 2:
        return reduceRowRgba<2, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    case 4:
        return reduceRowRgba<4, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    case 6:
        return reduceRowRgba<6, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    case 8:
        return reduceRowRgba<8, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    case 10:
        return reduceRowRgba<10, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    default:
        return reduceRowRgba<0, Bgr, Gray>(rowSums, wx, pairs, dstWidth, dst);
    }
}

// The weights of a horizontal pass of at most 8 taps, padded with zeros to 8 per output pixel,
// for reduceRowGraySse2; empty for wider kernels.
std::vector<std::int16_t> eightTapWeights(const AxisWeights& wx) {
    if (wx.taps > 8) return {};
    std::vector<std::int16_t> padded(wx.start.size() * 8, 0);
    for (std::size_t x = 0; x < wx.start.size(); ++x)
        std::copy_n(wx.weights.begin() + static_cast<std::ptrdiff_t>(x * wx.taps), wx.taps,
                    padded.begin() + static_cast<std::ptrdiff_t>(x * 8));
    return padded;
}

// One-channel rows to grey bytes, four output pixels at a time, each with one multiply-add of
// 8 source values against its padded weights (loads reach past the last tap into the row sums'
// padding, against zero weights). Returns the number of pixels done; the same integers as the
// scalar loop.
int reduceRowGraySse2(const std::int16_t* rowSums, const std::vector<int>& start,
                      const std::int16_t* weights8, int dstWidth, std::uint8_t* dst) {
    const __m128i offset = _mm_set1_epi32((128 << kShift) + (1 << (kShift - 1)));
    int x = 0;
    for (; x + 4 <= dstWidth; x += 4) {
        __m128i p[4];
        for (int k = 0; k < 4; ++k)
            p[k] = _mm_madd_epi16(
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rowSums + start[x + k])),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(weights8 + (x + k) * 8)));
        // Transposed adds: lane k of the result is the sum of p[k]'s four lanes.
        const __m128i ab =
            _mm_add_epi32(_mm_unpacklo_epi32(p[0], p[1]), _mm_unpackhi_epi32(p[0], p[1]));
        const __m128i cd =
            _mm_add_epi32(_mm_unpacklo_epi32(p[2], p[3]), _mm_unpackhi_epi32(p[2], p[3]));
        const __m128i sum = _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
        const __m128i v = _mm_srai_epi32(_mm_add_epi32(sum, offset), kShift);
        const __m128i words = _mm_packs_epi32(v, v);
        const auto bytes = _mm_cvtsi128_si32(_mm_packus_epi16(words, words));
        std::memcpy(dst + x, &bytes, 4);
    }
    return x;
}

void reduceRowGray(const std::int16_t* rowSums, const AxisWeights& wx, int from, int dstWidth,
                   Output output, std::uint8_t* dst) {
    for (int x = from; x < dstWidth; ++x) {
        const std::int16_t* src = rowSums + wx.start[x];
        const std::int16_t* w = wx.weights.data() + static_cast<std::size_t>(x) * wx.taps;
        std::int32_t sum = 0;
        for (int t = 0; t < wx.taps; ++t) sum += src[t] * w[t];
        const auto v = static_cast<std::uint8_t>(
            std::clamp(((sum + (1 << (kShift - 1))) >> kShift) + 128, 0, 255));
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
    const AxisWeights wx = axisWeights(src.pixelWidth(), dstWidth, spanWidth, 2, kColBits);
    const AxisWeights wy = axisWeights(src.pixelHeight(), dstHeight, spanHeight, 1, kRowBits);

    const std::size_t rowBytes = static_cast<std::size_t>(src.pixelWidth()) * channels;
    // Row sums, padded so that every output pixel can read its full tap count, and one-channel
    // rows 8 values from any start.
    std::vector<std::int16_t> rowSums(
        rowBytes + static_cast<std::size_t>(std::max(wx.taps, 8) + 2) * channels, 0);
    const std::vector<std::int16_t> weights8 =
        channels == 1 && output == Output::gray ? eightTapWeights(wx) : std::vector<std::int16_t>{};
    const std::vector<std::int32_t> pairs = packPairs(wx);
    std::vector<const std::uint8_t*> rows(static_cast<std::size_t>(wy.taps) + 1);
    std::vector<std::int32_t> pairWeights(static_cast<std::size_t>(wy.taps) / 2 + 1);
    std::vector<std::int16_t> bytePairs(pairWeights.size());

    for (int y = 0; y < dstHeight; ++y) {
        const std::int16_t* w = wy.weights.data() + static_cast<std::size_t>(y) * wy.taps;
        int count = wy.taps;
        while (count > 1 && w[count - 1] == 0) --count; // only rows that contribute
        for (int t = 0; t < count; ++t) rows[t] = src.row(wy.start[y] + t);
        rows[count] = rows[count - 1];
        bool byteWeights = true;
        for (int t = 0; t < count; t += 2) {
            const auto wa = static_cast<std::uint16_t>(w[t]);
            const auto wb = static_cast<std::uint16_t>(t + 1 < count ? w[t + 1] : 0);
            pairWeights[t / 2] = static_cast<std::int32_t>((std::uint32_t{wb} << 16) | wa);
            bytePairs[t / 2] = static_cast<std::int16_t>(wb << 8 | wa);
            byteWeights = byteWeights && wa < 256 && wb < 256;
        }
        const std::size_t done =
            avx2Enabled.load(std::memory_order_relaxed) && byteWeights
                ? sumRowsAvx2(rows.data(), bytePairs.data(), pairWeights.data(), count, rowBytes,
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
        } else {
            const int done = weights8.empty() ? 0
                                              : reduceRowGraySse2(rowSums.data(), wx.start,
                                                                  weights8.data(), dstWidth, out);
            reduceRowGray(rowSums.data(), wx, done, dstWidth, output, out);
        }
    }
}

} // namespace kestrel::platform::resampling
