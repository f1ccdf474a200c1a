#include "platform/resampler.hpp"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace kestrel::platform::resampling {

namespace {

constexpr int kBits = AxisWeights::weightBits;
// The vertical sums keep 7 fractional bits in 16-bit lanes: 255 × 128 = 32640 fits an int16.
constexpr int kRowShift = kBits - 7;
// Fixed-point Rec. 601 luminance, summing to 65536.
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

enum class Step { first, middle, last, only };

// Adds wa × rowA + wb × rowB, byte by byte, to the 32-bit sums; the last step narrows the sums
// to 16 bits (7 fractional bits) into out16 instead.
void accumulateRows(const std::uint8_t* a, const std::uint8_t* b, std::int16_t wa, std::int16_t wb,
                    std::size_t n, bool straight, Step step, std::int32_t* acc,
                    std::int16_t* out16) {
    const __m128i w = _mm_set1_epi32(
        static_cast<int>((static_cast<std::uint32_t>(static_cast<std::uint16_t>(wb)) << 16) |
                         static_cast<std::uint16_t>(wa)));
    const __m128i zero = _mm_setzero_si128();
    const __m128i round = _mm_set1_epi32(1 << (kRowShift - 1));
    const bool load = step == Step::middle || step == Step::last;
    const bool narrow = step == Step::last || step == Step::only;
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i va = load16(a + i, straight);
        const __m128i vb = load16(b + i, straight);
        const __m128i alo = _mm_unpacklo_epi8(va, zero), ahi = _mm_unpackhi_epi8(va, zero);
        const __m128i blo = _mm_unpacklo_epi8(vb, zero), bhi = _mm_unpackhi_epi8(vb, zero);
        __m128i s0 = _mm_madd_epi16(_mm_unpacklo_epi16(alo, blo), w);
        __m128i s1 = _mm_madd_epi16(_mm_unpackhi_epi16(alo, blo), w);
        __m128i s2 = _mm_madd_epi16(_mm_unpacklo_epi16(ahi, bhi), w);
        __m128i s3 = _mm_madd_epi16(_mm_unpackhi_epi16(ahi, bhi), w);
        __m128i* accv = reinterpret_cast<__m128i*>(acc + i);
        if (load) {
            s0 = _mm_add_epi32(s0, _mm_loadu_si128(accv));
            s1 = _mm_add_epi32(s1, _mm_loadu_si128(accv + 1));
            s2 = _mm_add_epi32(s2, _mm_loadu_si128(accv + 2));
            s3 = _mm_add_epi32(s3, _mm_loadu_si128(accv + 3));
        }
        if (narrow) {
            s0 = _mm_srai_epi32(_mm_add_epi32(s0, round), kRowShift);
            s1 = _mm_srai_epi32(_mm_add_epi32(s1, round), kRowShift);
            s2 = _mm_srai_epi32(_mm_add_epi32(s2, round), kRowShift);
            s3 = _mm_srai_epi32(_mm_add_epi32(s3, round), kRowShift);
            __m128i* o = reinterpret_cast<__m128i*>(out16 + i);
            _mm_storeu_si128(o, _mm_packs_epi32(s0, s1));
            _mm_storeu_si128(o + 1, _mm_packs_epi32(s2, s3));
        } else {
            _mm_storeu_si128(accv, s0);
            _mm_storeu_si128(accv + 1, s1);
            _mm_storeu_si128(accv + 2, s2);
            _mm_storeu_si128(accv + 3, s3);
        }
    }
    for (; i < n; ++i) {
        std::int32_t s = sourceByte(a, i, straight) * wa + sourceByte(b, i, straight) * wb;
        if (load) s += acc[i];
        if (narrow)
            out16[i] = static_cast<std::int16_t>((s + (1 << (kRowShift - 1))) >> kRowShift);
        else
            acc[i] = s;
    }
}

// One output row from a vertically reduced row of four-channel values (7 fractional bits).
void reduceRowRgba(const std::int16_t* rowSums, const AxisWeights& wx, int dstWidth, bool bgr,
                   Output output, std::uint8_t* dst) {
    const int taps = wx.taps; // even
    for (int x = 0; x < dstWidth; ++x) {
        const std::int16_t* src = rowSums + static_cast<std::size_t>(wx.start[x]) * 4;
        const std::int16_t* w = wx.weights.data() + static_cast<std::size_t>(x) * taps;
        __m128i sum = _mm_setzero_si128();
        for (int t = 0; t < taps; t += 2) {
            // Two pixels R0 G0 B0 A0 R1 G1 B1 A1, paired per channel for one multiply-add.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + t * 4));
            const __m128i pairs = _mm_unpacklo_epi16(v, _mm_srli_si128(v, 8));
            const __m128i ww = _mm_set1_epi32(static_cast<int>(
                (static_cast<std::uint32_t>(static_cast<std::uint16_t>(w[t + 1])) << 16) |
                static_cast<std::uint16_t>(w[t])));
            sum = _mm_add_epi32(sum, _mm_madd_epi16(pairs, ww));
        }
        alignas(16) std::int32_t c[4];
        _mm_store_si128(reinterpret_cast<__m128i*>(c), sum);
        // c holds the channel values with 7 + weightBits fractional bits.
        constexpr int shift = 7 + kBits;
        if (output == Output::gray) {
            const std::uint32_t r = static_cast<std::uint32_t>(c[bgr ? 2 : 0]) >> (shift - 8);
            const std::uint32_t g = static_cast<std::uint32_t>(c[1]) >> (shift - 8);
            const std::uint32_t b = static_cast<std::uint32_t>(c[bgr ? 0 : 2]) >> (shift - 8);
            dst[x] = static_cast<std::uint8_t>(
                (kLumaR * r + kLumaG * g + kLumaB * b + (1u << 23)) >> 24);
        } else {
            std::uint8_t* o = dst + static_cast<std::size_t>(x) * 4;
            for (int k = 0; k < 4; ++k) {
                const int v = (c[k] + (1 << (shift - 1))) >> shift;
                o[k] = static_cast<std::uint8_t>(std::clamp(v, 0, 255));
            }
            if (bgr) std::swap(o[0], o[2]);
        }
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
    std::vector<std::int32_t> acc(rowBytes);

    for (int y = 0; y < dstHeight; ++y) {
        const std::int16_t* w = wy.weights.data() + static_cast<std::size_t>(y) * wy.taps;
        int count = wy.taps;
        while (count > 1 && w[count - 1] == 0) --count; // only rows that contribute
        const int first = wy.start[y];
        for (int t = 0; t < count; t += 2) {
            const bool pair = t + 1 < count;
            const Step step = t == 0 ? (t + 2 >= count ? Step::only : Step::first)
                                     : (t + 2 >= count ? Step::last : Step::middle);
            const std::uint8_t* a = src.row(first + t);
            const std::uint8_t* b = pair ? src.row(first + t + 1) : a;
            accumulateRows(a, b, w[t], pair ? w[t + 1] : std::int16_t{0}, rowBytes, straight, step,
                           acc.data(), rowSums.data());
        }
        std::uint8_t* out = dst + static_cast<std::size_t>(y) * dstStride;
        if (channels == 4)
            reduceRowRgba(rowSums.data(), wx, dstWidth, bgr, output, out);
        else
            reduceRowGray(rowSums.data(), wx, dstWidth, output, out);
    }
}

} // namespace kestrel::platform::resampling
