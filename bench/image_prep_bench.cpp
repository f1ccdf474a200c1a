// Preparing a 12-megapixel camera frame for sending: scale the longer side to 1000 pixels,
// optionally grey, JPEG at quality 0.8. The library side by side with OpenCV (INTER_AREA, the
// full-quality choice; INTER_LINEAR, the fast aliasing one) and with the floor: one read of the
// frame plus the JPEG encode of the result. Each output is scored by SSIM on Rec. 601 luma
// against a 16-bit Lanczos reduction made by ImageMagick; peak extra memory is the growth of the
// peak resident set while one preparation runs (the frame itself is already resident).
// The same frame as a camera writes it, a JPEG file at quality 92 (upright, and stored on its side
// with EXIF orientation 6 as phones do), goes from the file to the JPEG sent: the library's file
// path next to OpenCV's reduced read (IMREAD_REDUCED_*_4 + INTER_AREA) and to the floor of that
// job, TurboJPEG's 1/4 DCT decode alone plus the encode.
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/graphics.hpp>
#include <kestrel/service/kestrel_helpers.hpp>

#include "service/recognition_request.hpp"

#include <benchmark/benchmark.h>
#include <emmintrin.h>
#include <malloc.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 4032, kHeight = 3024, kOutW = 1000, kOutH = 750;
constexpr double kQuality = 0.8;

using Bytes = std::vector<std::uint8_t>;

std::uint32_t hash(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352d;
    x ^= x >> 15;
    x *= 0x846ca68b;
    return x ^ (x >> 16);
}

// A printed page under uneven light: paper texture and noise, columns of small print (glyphs
// 5 to 9 pixels tall made of thin strokes), a few headlines and a colour photograph.
Bytes makeFrame() {
    Bytes px(static_cast<std::size_t>(kWidth) * kHeight * 4);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double light = 0.82 + 0.12 * std::sin(x * 0.0011 + 0.4) * std::cos(y * 0.0014);
            const std::uint32_t h = hash(static_cast<std::uint32_t>(y * kWidth + x));
            double r = 240 * light, g = 236 * light, b = 226 * light;
            const double grain = static_cast<int>(h & 15) - 7.5;
            const bool photo = x > 2300 && x < 3800 && y > 300 && y < 1400;
            if (photo) {
                r = 128 + 90 * std::sin(x * 0.013) * std::cos(y * 0.011);
                g = 110 + 80 * std::sin((x + y) * 0.007);
                b = 100 + 70 * std::cos(x * 0.005 - y * 0.009);
            } else {
                // Small print: lines 14 px apart, glyph cells 7 px wide; headlines 3× larger.
                const bool headline = y > 1600 && y < 1700;
                const int lineH = headline ? 42 : 14, cellW = headline ? 21 : 7;
                const int ly = y % lineH, cx = x % cellW, cell = x / cellW + (y / lineH) * 977;
                const int glyph = static_cast<int>(hash(static_cast<std::uint32_t>(cell)) & 0xFFFF);
                const int s = headline ? 3 : 1;
                bool ink = false;
                if (ly >= 2 * s && ly < 11 * s && (glyph & 7) != 0 &&
                    (x / 600) % 2 == (y / 1500) % 2) {
                    const int gy = (ly - 2 * s) / s, gx = cx / s;
                    ink = (gx == 1 && (glyph & 16)) || (gx == 4 && (glyph & 32)) ||
                          (gy == 0 && (glyph & 64) && gx > 0 && gx < 5) ||
                          (gy == 4 && (glyph & 128) && gx > 0 && gx < 5) ||
                          (gy == 8 && (glyph & 256) && gx > 0 && gx < 5) ||
                          (gx == gy / 2 && (glyph & 512));
                }
                if (ink) r = g = b = 35 + (h >> 8 & 15);
            }
            std::uint8_t* p = &px[(static_cast<std::size_t>(y) * kWidth + x) * 4];
            p[0] = static_cast<std::uint8_t>(std::clamp(r + grain, 0.0, 255.0));
            p[1] = static_cast<std::uint8_t>(std::clamp(g + grain, 0.0, 255.0));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + grain, 0.0, 255.0));
            p[3] = 255;
        }
    }
    return px;
}

const Bytes& frame() {
    static const Bytes f = makeFrame();
    return f;
}

std::shared_ptr<const kestrel::platform::Bitmap> frameBitmap() {
    static const auto b = kestrel::platform::Bitmap::borrowing(
        kestrel::platform::PixelFormat::rgba8, kWidth, kHeight, 0, frame().data());
    return b;
}

// Rec. 601 luma of the Lanczos reference (empty when ImageMagick is not there).
// Rec. 601 luma of a 16-bit Lanczos reduction of an image file to w x h, turned upright by its
// EXIF orientation first (empty when ImageMagick is not there).
std::vector<double> lanczosLuma(const std::filesystem::path& source, int w, int h) {
    const auto out = std::filesystem::temp_directory_path() /
                     ("kestrel-bench-ref-" + std::to_string(getpid()) + ".ppm");
    const std::string cmd = "convert '" + source.string() +
                            "' -auto-orient -filter Lanczos -resize " + std::to_string(w) + "x" +
                            std::to_string(h) + "! -depth 16 '" + out.string() + "' 2>/dev/null";
    std::vector<double> luma;
    if (std::system(cmd.c_str()) == 0) {
        std::ifstream in(out, std::ios::binary);
        std::string magic;
        int rw = 0, rh = 0, maxval = 0;
        in >> magic >> rw >> rh >> maxval;
        in.get();
        if (magic == "P6" && rw == w && rh == h && maxval == 65535) {
            Bytes raw(static_cast<std::size_t>(w) * h * 6);
            in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(raw.size()));
            for (std::size_t i = 0; i < raw.size(); i += 6) {
                const double r = (raw[i] << 8 | raw[i + 1]) / 257.0;
                const double g = (raw[i + 2] << 8 | raw[i + 3]) / 257.0;
                const double b = (raw[i + 4] << 8 | raw[i + 5]) / 257.0;
                luma.push_back(0.299 * r + 0.587 * g + 0.114 * b);
            }
        }
    }
    std::filesystem::remove(out);
    return luma;
}

// The reference of the page frame: its Lanczos reduction to 1000 x 750.
std::vector<double> referenceLuma() {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("kestrel-bench-" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream out(dir / "frame.ppm", std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        Bytes rgb;
        rgb.reserve(static_cast<std::size_t>(kWidth) * kHeight * 3);
        for (std::size_t i = 0; i < frame().size(); i += 4)
            for (int c = 0; c < 3; ++c) rgb.push_back(frame()[i + c]);
        out.write(reinterpret_cast<const char*>(rgb.data()),
                  static_cast<std::streamsize>(rgb.size()));
    }
    auto luma = lanczosLuma(dir / "frame.ppm", kOutW, kOutH);
    fs::remove_all(dir);
    return luma;
}

// Mean SSIM (11-tap Gaussian window, sigma 1.5, K1 0.01, K2 0.03) of two luma planes.
double ssim(const std::vector<double>& a, const std::vector<double>& b, int w, int h) {
    double k[11], sum = 0;
    for (int i = 0; i < 11; ++i) sum += k[i] = std::exp(-((i - 5) * (i - 5)) / (2 * 1.5 * 1.5));
    for (double& v : k) v /= sum;
    auto blur = [&](const std::vector<double>& in) {
        std::vector<double> tmp(in.size(), 0), out(in.size(), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 5; x < w - 5; ++x) {
                double s = 0;
                for (int i = 0; i < 11; ++i) s += k[i] * in[y * w + x + i - 5];
                tmp[y * w + x] = s;
            }
        for (int y = 5; y < h - 5; ++y)
            for (int x = 5; x < w - 5; ++x) {
                double s = 0;
                for (int i = 0; i < 11; ++i) s += k[i] * tmp[(y + i - 5) * w + x];
                out[y * w + x] = s;
            }
        return out;
    };
    std::vector<double> aa(a.size()), bb(a.size()), ab(a.size());
    for (std::size_t i = 0; i < a.size(); ++i)
        aa[i] = a[i] * a[i], bb[i] = b[i] * b[i], ab[i] = a[i] * b[i];
    const auto ma = blur(a), mb = blur(b), saa = blur(aa), sbb = blur(bb), sab = blur(ab);
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
    double total = 0;
    int n = 0;
    for (int y = 5; y < h - 5; ++y)
        for (int x = 5; x < w - 5; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * w + x;
            const double va = saa[i] - ma[i] * ma[i], vb = sbb[i] - mb[i] * mb[i],
                         cov = sab[i] - ma[i] * mb[i];
            total += ((2 * ma[i] * mb[i] + c1) * (2 * cov + c2)) /
                     ((ma[i] * ma[i] + mb[i] * mb[i] + c1) * (va + vb + c2));
            ++n;
        }
    return total / n;
}

// SSIM of a JPEG's luma (decoded by TurboJPEG) against the Lanczos reduction of its source to
// the same size: the page frame, or an image file; NaN without a reference.
double scoreJpeg(const Bytes& jpeg, const std::filesystem::path& source = {}) {
    static const std::vector<double> frameRef = referenceLuma();
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs);
    Bytes rgb(static_cast<std::size_t>(w) * h * 3);
    const int rc =
        tjDecompress2(tj, jpeg.data(), jpeg.size(), rgb.data(), w, w * 3, h, TJPF_RGB, 0);
    tjDestroy(tj);
    if (rc != 0 || (source.empty() && (w != kOutW || h != kOutH))) return std::nan("");
    const std::vector<double> ref = source.empty() ? frameRef : lanczosLuma(source, w, h);
    if (ref.empty()) return std::nan("");
    std::vector<double> luma(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < luma.size(); ++i)
        luma[i] = 0.299 * rgb[i * 3] + 0.587 * rgb[i * 3 + 1] + 0.114 * rgb[i * 3 + 2];
    return ssim(luma, ref, w, h);
}

// The frame as a JPEG file at quality 92, written once per run in a folder removed at exit;
// turned, it is stored rotated a quarter turn anticlockwise with an EXIF block saying
// "orientation 6" (turn clockwise to show).
Bytes frameJpeg(bool turned);

std::filesystem::path frameFile(bool turned) {
    static const struct Folder {
        std::filesystem::path path;
        Folder() {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "kestrel-bench-XXXXXX").string();
            if (mkdtemp(pattern.data())) path = pattern;
            for (const bool t : {false, true}) {
                const Bytes file = frameJpeg(t);
                std::ofstream(path / (t ? "turned.jpg" : "upright.jpg"), std::ios::binary)
                    .write(reinterpret_cast<const char*>(file.data()),
                           static_cast<std::streamsize>(file.size()));
            }
        }
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path / (turned ? "turned.jpg" : "upright.jpg");
}

Bytes frameJpeg(bool turned) {
    int w = kWidth, h = kHeight;
    Bytes pixels = frame();
    if (turned) {
        std::swap(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                std::memcpy(&pixels[(static_cast<std::size_t>(y) * w + x) * 4],
                            &frame()[(static_cast<std::size_t>(x) * kWidth + (h - 1 - y)) * 4], 4);
    }
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, pixels.data(), w, w * 4, h, TJPF_RGBX, &jpeg, &size, TJSAMP_420, 92, 0);
    Bytes file(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    if (turned) {
        // APP1 "Exif", a big-endian TIFF header and one IFD entry: orientation (SHORT) = 6.
        const Bytes exif = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0,    0,    'M', 'M',
                            0,    42,   0,    0,    0,   8,   0,   1,   0x01, 0x12, 0,   3,
                            0,    0,    0,    1,    0,   6,   0,   0,   0,    0,    0,   0};
        file.insert(file.begin() + 2, exif.begin(), exif.end());
    }
    return file;
}

// --- the approaches -------------------------------------------------------------------------

Bytes kestrelPrepare(bool gray) {
    auto scaled = kestrel::resizeImage(frameBitmap(), kOutW, gray);
    return kestrel::platform::jpegRepresentation(scaled.get(), kQuality).value_or(Bytes{});
}

// What Server::enrichedImage does with a photo before it builds the request.
Bytes kestrelSend(const kestrel::service::PhotoSource& photo, bool gray) {
    auto jpeg = kestrel::service::jpegToSend(photo, kOutW, gray, kQuality);
    return std::holds_alternative<Bytes>(jpeg) ? std::move(std::get<Bytes>(jpeg)) : Bytes{};
}

// A photo that already has the send size: 1000 x 750 of the frame, in the channels sent.
std::shared_ptr<const kestrel::platform::Bitmap> sizedPhoto(bool gray) {
    static const auto colour =
        kestrel::platform::drawInContext(frameBitmap().get(), {double(kOutW), double(kOutH)});
    static const auto grey =
        kestrel::platform::drawInGrayContext(frameBitmap().get(), {double(kOutW), double(kOutH)});
    return gray ? grey : colour;
}

// The way the README used to show: the whole file decoded, then the photo prepared.
Bytes kestrelWholeFile(bool turned) {
    auto scaled =
        kestrel::resizeImage(kestrel::platform::Bitmap::fromFile(frameFile(turned)), kOutW, false);
    return kestrel::platform::jpegRepresentation(scaled.get(), kQuality).value_or(Bytes{});
}

// A natural photograph Debian ships (mate-backgrounds, installed by `./run bench`): 2560 x 1920,
// baseline JPEG, leaves and bark in fine detail.
const std::filesystem::path kNatural = "/usr/share/backgrounds/mate/nature/Wood.jpg";

Bytes wholeDecode(const std::filesystem::path& file) {
    auto scaled = kestrel::resizeImage(kestrel::platform::Bitmap::fromFile(file), kOutW, false);
    return kestrel::platform::jpegRepresentation(scaled.get(), kQuality).value_or(Bytes{});
}

Bytes opencvReduced(const std::filesystem::path& file, int reduction) {
    const cv::Mat read = cv::imread(file.string(), reduction);
    cv::Mat small;
    cv::resize(read, small, cv::Size(kOutW, kOutW * read.rows / read.cols), 0, 0, cv::INTER_AREA);
    Bytes out;
    cv::imencode(".jpg", small, out, {cv::IMWRITE_JPEG_QUALITY, 80});
    return out;
}

Bytes opencvFile(bool turned, bool gray) {
    const cv::Mat read =
        cv::imread(frameFile(turned).string(),
                   gray ? cv::IMREAD_REDUCED_GRAYSCALE_4 : cv::IMREAD_REDUCED_COLOR_4);
    cv::Mat small;
    cv::resize(read, small, cv::Size(kOutW, kOutH), 0, 0, cv::INTER_AREA);
    Bytes out;
    cv::imencode(".jpg", small, out, {cv::IMWRITE_JPEG_QUALITY, 80});
    return out;
}

// The floor of the file path: the upright file read and decoded at 1/4 by TurboJPEG, and
// 1000 x 750 of it encoded.
Bytes floorFile(bool gray) {
    Bytes file(std::filesystem::file_size(frameFile(false)));
    std::ifstream(frameFile(false), std::ios::binary)
        .read(reinterpret_cast<char*>(file.data()), static_cast<std::streamsize>(file.size()));
    tjhandle tj = tjInitDecompress();
    const int w = (kWidth + 3) / 4, h = (kHeight + 3) / 4, bpp = gray ? 1 : 3;
    Bytes pixels(static_cast<std::size_t>(w) * h * bpp);
    tjDecompress2(tj, file.data(), file.size(), pixels.data(), w, w * bpp, h,
                  gray ? TJPF_GRAY : TJPF_RGB, 0);
    tjDestroy(tj);
    tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(tj, pixels.data(), kOutW, w * bpp, kOutH, gray ? TJPF_GRAY : TJPF_RGB, &jpeg, &size,
                gray ? TJSAMP_GRAY : TJSAMP_420, 80, 0);
    Bytes out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    return out;
}

Bytes opencvPrepare(int interpolation, bool gray) {
    cv::Mat src(kHeight, kWidth, CV_8UC4, const_cast<std::uint8_t*>(frame().data()));
    cv::Mat small, converted;
    cv::resize(src, small, cv::Size(kOutW, kOutH), 0, 0, interpolation);
    cv::cvtColor(small, converted, gray ? cv::COLOR_RGBA2GRAY : cv::COLOR_RGBA2BGR);
    Bytes out;
    cv::imencode(".jpg", converted, out, {cv::IMWRITE_JPEG_QUALITY, 80});
    return out;
}

// The floor: every byte of the frame read once, and the result encoded.
Bytes floorPrepare(bool gray) {
    static const Bytes result = [] {
        Bytes r(static_cast<std::size_t>(kOutW) * kOutH * 4);
        for (std::size_t i = 0; i < r.size(); ++i) r[i] = frame()[i * 16 % frame().size()];
        return r;
    }();
    __m128i acc = _mm_setzero_si128();
    const auto* p = reinterpret_cast<const __m128i*>(frame().data());
    const std::size_t chunks = frame().size() / 16;
    for (std::size_t i = 0; i < chunks; ++i)
        acc = _mm_add_epi64(acc, _mm_sad_epu8(_mm_loadu_si128(p + i), _mm_setzero_si128()));
    benchmark::DoNotOptimize(acc);
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    Bytes out;
    if (gray) {
        static const Bytes g = [] {
            Bytes r(static_cast<std::size_t>(kOutW) * kOutH);
            for (std::size_t i = 0; i < r.size(); ++i) r[i] = result[i * 4 + 1];
            return r;
        }();
        tjCompress2(tj, g.data(), kOutW, kOutW, kOutH, TJPF_GRAY, &jpeg, &size, TJSAMP_GRAY, 80, 0);
    } else {
        tjCompress2(tj, result.data(), kOutW, kOutW * 4, kOutH, TJPF_RGBX, &jpeg, &size, TJSAMP_420,
                    80, 0);
    }
    out.assign(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(tj);
    return out;
}

// Growth of the peak resident set (kB) while fn runs once, measured in a child process so that
// its allocator settings (every large block its own mapping, so that the peak sees each one)
// do not slow down the timed runs.
long peakGrowthKb(const std::function<void()>& fn) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    const pid_t child = fork();
    if (child == 0) {
        mallopt(M_MMAP_THRESHOLD, 64 * 1024);
        mallopt(M_TRIM_THRESHOLD, 64 * 1024);
        auto status = [](const char* key) {
            std::ifstream in("/proc/self/status");
            std::string line;
            while (std::getline(in, line))
                if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + std::strlen(key));
            return -1L;
        };
        std::ofstream("/proc/self/clear_refs") << "5"; // resets the peak to the current size
        const long before = status("VmHWM:");
        fn();
        const long after = status("VmHWM:");
        const long growth = before < 0 || after < 0 ? -1 : after - before;
        [[maybe_unused]] const auto written = write(fds[1], &growth, sizeof growth);
        _exit(0);
    }
    close(fds[1]);
    long growth = -1;
    if (child < 0 || read(fds[0], &growth, sizeof growth) != sizeof growth) growth = -1;
    close(fds[0]);
    if (child > 0) waitpid(child, nullptr, 0);
    return growth;
}

struct Approach {
    std::string name;
    std::function<Bytes()> run;
    bool scored = true;
    std::filesystem::path source = {}; // what the output is scored against; empty: the frame
};

std::vector<Approach> approaches() {
    std::vector<Approach> all{
        {"kestrel colour", [] { return kestrelPrepare(false); }},
        {"kestrel grey", [] { return kestrelPrepare(true); }},
        {"OpenCV INTER_AREA colour", [] { return opencvPrepare(cv::INTER_AREA, false); }},
        {"OpenCV INTER_AREA grey", [] { return opencvPrepare(cv::INTER_AREA, true); }},
        {"OpenCV INTER_LINEAR colour", [] { return opencvPrepare(cv::INTER_LINEAR, false); }},
        {"floor colour (read + encode)", [] { return floorPrepare(false); }, false},
        {"floor grey (read + encode)", [] { return floorPrepare(true); }, false},
        {"file: kestrel colour", [] { return kestrelSend(frameFile(false), false); }},
        {"file: kestrel grey", [] { return kestrelSend(frameFile(false), true); }},
        {"file: kestrel colour, turned", [] { return kestrelSend(frameFile(true), false); }},
        {"file: kestrel grey, turned", [] { return kestrelSend(frameFile(true), true); }},
        {"file: whole decode colour", [] { return kestrelWholeFile(false); }},
        {"file: whole decode colour, turned", [] { return kestrelWholeFile(true); }},
        {"file: OpenCV colour", [] { return opencvFile(false, false); }},
        {"file: OpenCV grey", [] { return opencvFile(false, true); }},
        {"file: OpenCV colour, turned", [] { return opencvFile(true, false); }},
        {"file: floor colour (1/4 decode)", [] { return floorFile(false); }, false},
        {"file: floor grey (1/4 decode)", [] { return floorFile(true); }, false},
        {"sized: kestrel colour", [] { return kestrelSend(sizedPhoto(false), false); }},
        {"sized: kestrel grey", [] { return kestrelSend(sizedPhoto(true), true); }},
        {"sized: encode alone colour",
         [] {
             return kestrel::platform::jpegRepresentation(sizedPhoto(false).get(), kQuality)
                 .value_or(Bytes{});
         }},
        {"sized: encode alone grey",
         [] {
             return kestrel::platform::jpegRepresentation(sizedPhoto(true).get(), kQuality)
                 .value_or(Bytes{});
         }},
    };
    if (std::filesystem::exists(kNatural)) {
        all.push_back({"natural: kestrel file colour", [] { return kestrelSend(kNatural, false); },
                       true, kNatural});
        all.push_back(
            {"natural: whole decode colour", [] { return wholeDecode(kNatural); }, true, kNatural});
        all.push_back({"natural: OpenCV IMREAD_REDUCED_COLOR_2",
                       [] { return opencvReduced(kNatural, cv::IMREAD_REDUCED_COLOR_2); }, true,
                       kNatural});
    }
    return all;
}

class MedianCollector : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "median")
                medians[r.run_name.function_name] = r.GetAdjustedCPUTime();
    }
};

} // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    frame();
    frameFile(false);
    sizedPhoto(false);

    std::map<std::string, long> peak;
    std::map<std::string, double> quality;
    // Peaks first, each in a fresh child of a process that has prepared nothing yet.
    for (const Approach& a : approaches())
        peak[a.name] = peakGrowthKb([&] { benchmark::DoNotOptimize(a.run()); });
    for (const Approach& a : approaches())
        if (a.scored) quality[a.name] = scoreJpeg(a.run(), a.source);

    for (const Approach& a : approaches()) {
        benchmark::RegisterBenchmark(a.name.c_str(),
                                     [run = a.run](benchmark::State& state) {
                                         for (auto _ : state) {
                                             Bytes out = run();
                                             benchmark::DoNotOptimize(out.data());
                                         }
                                     })
            ->Unit(benchmark::kMillisecond)
            ->MinWarmUpTime(0.5)
            ->Repetitions(15)
            ->ReportAggregatesOnly(true);
    }
    // The repetitions of all rows are run in a random interleaved order, so that a slow moment
    // of a shared machine does not fall on one row alone; an explicit flag still wins.
    std::vector<char*> args(argv, argv + argc);
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    MedianCollector reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    const double opencvArea = reporter.medians["OpenCV INTER_AREA colour"];
    const double opencvAreaGray = reporter.medians["OpenCV INTER_AREA grey"];
    std::printf(
        "\n%dx%d RGBA -> %dx%d, JPEG q%.0f, one thread, median CPU time of 15 repetitions\n",
        kWidth, kHeight, kOutW, kOutH, kQuality * 100);
    std::printf("file rows: the frame as a q92 JPEG file; \"vs floor\" is time over the 1/4 decode "
                "floor of the same channels; sized rows: a 1000 x 750 photo, \"vs floor\" over "
                "encoding it alone\n");
    std::printf("%-36s %9s %8s %14s %12s %9s\n", "approach", "ms", "SSIM", "peak extra MB",
                "vs OpenCV", "vs floor");
    for (const Approach& a : approaches()) {
        const double ms = reporter.medians[a.name];
        const bool gray = a.name.find("grey") != std::string::npos;
        const bool file = a.name.rfind("file:", 0) == 0;
        const bool sized = a.name.rfind("sized:", 0) == 0;
        const double base =
            file   ? reporter.medians[gray ? "file: OpenCV grey" : "file: OpenCV colour"]
            : gray ? opencvAreaGray
                   : opencvArea;
        const double floorMs = reporter.medians[file   ? gray ? "file: floor grey (1/4 decode)"
                                                              : "file: floor colour (1/4 decode)"
                                                : gray ? "sized: encode alone grey"
                                                       : "sized: encode alone colour"];
        char ssimText[16] = "-", openCvText[16] = "-", floorText[16] = "-";
        if (a.scored) std::snprintf(ssimText, sizeof ssimText, "%.3f", quality[a.name]);
        const bool natural = a.name.rfind("natural:", 0) == 0;
        if (!sized && !natural && ms > 0)
            std::snprintf(openCvText, sizeof openCvText, "%.1fx", base / ms);
        if ((file || sized) && floorMs > 0)
            std::snprintf(floorText, sizeof floorText, "%.2fx", ms / floorMs);
        std::printf("%-36s %9.2f %8s %14.1f %12s %9s\n", a.name.c_str(), ms, ssimText,
                    peak[a.name] / 1024.0, openCvText, floorText);
    }
    benchmark::Shutdown();
    return 0;
}
