#include "page_painter.hpp"

#include <opencv2/imgproc.hpp>

#include <array>
#include <random>
#include <string_view>

namespace kestrel::devservice::synth {
namespace {

constexpr std::array<std::string_view, 48> kWords{
    "harbour", "market",  "council", "river",   "season",  "garden",  "festival", "bridge",
    "winter",  "railway", "school",  "library", "coast",   "village", "museum",   "harvest",
    "summer",  "theatre", "storm",   "ferry",   "orchard", "castle",  "league",   "valley",
    "the",     "of",      "and",     "for",     "new",     "old",     "city",     "north",
    "south",   "opens",   "plans",   "record",  "night",   "week",    "local",    "report",
    "price",   "water",   "road",    "island",  "light",   "music",   "game",     "story"};

constexpr std::array<int, 5> kFonts{cv::FONT_HERSHEY_SIMPLEX, cv::FONT_HERSHEY_DUPLEX,
                                    cv::FONT_HERSHEY_COMPLEX, cv::FONT_HERSHEY_TRIPLEX,
                                    cv::FONT_HERSHEY_SCRIPT_SIMPLEX};

class Brush {
public:
    explicit Brush(std::uint64_t start) : random_(start) {}
    int integer(int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random_);
    }
    double real(double low, double high) {
        return std::uniform_real_distribution<double>(low, high)(random_);
    }
    cv::Scalar colour(int low = 0, int high = 255) {
        return {double(integer(low, high)), double(integer(low, high)), double(integer(low, high))};
    }
    std::string words(int count) {
        std::string text;
        for (int i = 0; i < count; ++i) {
            if (i) text += ' ';
            text += kWords[std::size_t(integer(0, int(kWords.size()) - 1))];
        }
        return text;
    }
    int font() { return kFonts[std::size_t(integer(0, int(kFonts.size()) - 1))]; }

private:
    std::mt19937_64 random_;
};

// Scales text to fit width and draws it with its baseline at y.
void drawFitted(cv::Mat& page, const std::string& text, cv::Point origin, int width, int font,
                double scale, cv::Scalar colour, int thickness) {
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, font, scale, thickness, &baseline);
    if (size.width > width) scale *= double(width) / size.width;
    cv::putText(page, text, origin, font, scale, colour, thickness, cv::LINE_AA);
}

// A made-up photograph: a gradient sky, overlapping filled shapes and a little texture.
void paintPhotograph(cv::Mat& page, cv::Rect area, Brush& brush) {
    cv::Mat photo(area.size(), CV_8UC3);
    const cv::Scalar top = brush.colour(), bottom = brush.colour();
    for (int y = 0; y < photo.rows; ++y) {
        const double t = double(y) / std::max(1, photo.rows - 1);
        photo.row(y).setTo(top * (1 - t) + bottom * t);
    }
    const int shapes = brush.integer(6, 14);
    for (int i = 0; i < shapes; ++i) {
        const cv::Point centre(brush.integer(0, photo.cols), brush.integer(0, photo.rows));
        const int r = brush.integer(photo.cols / 12 + 2, photo.cols / 3 + 3);
        switch (brush.integer(0, 3)) {
        case 0:
            cv::circle(photo, centre, r, brush.colour(), cv::FILLED, cv::LINE_AA);
            break;
        case 1:
            cv::ellipse(photo, centre, {r, r / 2 + 1}, brush.real(0, 180), 0, 360, brush.colour(),
                        cv::FILLED, cv::LINE_AA);
            break;
        case 2: {
            std::vector<cv::Point> corners;
            const int n = brush.integer(3, 6);
            for (int k = 0; k < n; ++k)
                corners.emplace_back(centre.x + brush.integer(-r, r),
                                     centre.y + brush.integer(-r, r));
            cv::fillPoly(photo, std::vector<std::vector<cv::Point>>{corners}, brush.colour(),
                         cv::LINE_AA);
            break;
        }
        default:
            cv::rectangle(photo, cv::Rect(centre.x - r / 2, centre.y - r / 3, r, r * 2 / 3),
                          brush.colour(), cv::FILLED);
        }
    }
    cv::Mat grain(photo.size(), CV_8UC3);
    cv::RNG(std::uint64_t(brush.integer(1, 1 << 30))).fill(grain, cv::RNG::NORMAL, 0, 12);
    photo += grain;
    cv::GaussianBlur(photo, photo, {3, 3}, 0.8);
    photo.copyTo(page(area));
    cv::rectangle(page, area, cv::Scalar::all(40), 1);
}

// Lines of small print filling a column from y to bottom.
void paintColumn(cv::Mat& page, cv::Rect column, Brush& brush, int font) {
    const double scale = brush.real(0.32, 0.42);
    const int leading = int(scale * 34);
    int y = column.y + leading;
    while (y < column.br().y) {
        if (brush.integer(0, 9) == 0) { // paragraph break
            y += leading;
            continue;
        }
        std::string line = brush.words(brush.integer(3, 7));
        drawFitted(page, line, {column.x, y}, column.width, font, scale, cv::Scalar::all(25), 1);
        y += leading;
    }
}

} // namespace

cv::Mat paintPage(std::uint64_t pattern, const PageLook& look) {
    Brush brush(pattern * 0x9E3779B97F4A7C15ull + 1);
    const int w = look.size.width, h = look.size.height;
    cv::Mat page(
        look.size, CV_8UC3,
        cv::Scalar(brush.integer(225, 250), brush.integer(232, 252), brush.integer(238, 255)));

    // Masthead: a coloured band with the title, and a rule under it.
    const int mastheadHeight = h / 9;
    const cv::Scalar band = brush.colour(20, 200);
    cv::rectangle(page, cv::Rect(0, 0, w, mastheadHeight), band, cv::FILLED);
    const std::string title = look.masthead.empty() ? brush.words(2) : look.masthead;
    drawFitted(page, title, {w / 20, mastheadHeight * 3 / 4}, w * 9 / 10, brush.font(), 1.6,
               cv::Scalar::all(255), 2);

    // Headline and a photograph, in one of a few layouts.
    const int margin = w / 20;
    int y = mastheadHeight + h / 14;
    drawFitted(page, brush.words(brush.integer(3, 5)), {margin, y}, w - 2 * margin, brush.font(),
               brush.real(0.8, 1.1), cv::Scalar::all(10), 2);
    y += h / 40;
    const int photoHeight = brush.integer(h / 5, h / 3);
    const bool fullWidth = brush.integer(0, 1) == 1;
    const int photoWidth = fullWidth ? w - 2 * margin : (w - 3 * margin) / 2;
    const int photoX = fullWidth || brush.integer(0, 1) ? margin : w - margin - photoWidth;
    paintPhotograph(page, cv::Rect(photoX, y, photoWidth, photoHeight), brush);
    if (!fullWidth) {
        const int textX = photoX == margin ? 2 * margin + photoWidth : margin;
        paintColumn(page, cv::Rect(textX, y, photoWidth, photoHeight), brush, brush.font());
    }
    y += photoHeight + h / 40;

    // Columns of small print, with a boxed advertisement in one of them.
    const int columns = brush.integer(2, 3);
    const int gutter = margin / 2;
    const int columnWidth = (w - 2 * margin - (columns - 1) * gutter) / columns;
    const int bodyFont = brush.integer(0, 1) ? cv::FONT_HERSHEY_SIMPLEX : cv::FONT_HERSHEY_PLAIN;
    const int advert = brush.integer(0, columns - 1);
    for (int c = 0; c < columns; ++c) {
        const int x = margin + c * (columnWidth + gutter);
        int bottom = h - margin;
        if (c == advert) {
            const int boxHeight = brush.integer(h / 8, h / 5);
            const cv::Rect box(x, bottom - boxHeight, columnWidth, boxHeight);
            cv::rectangle(page, box, brush.colour(60, 240), cv::FILLED);
            cv::rectangle(page, box, cv::Scalar::all(0), 2);
            const cv::Point centre(box.x + box.width / 4, box.y + box.height / 2);
            cv::circle(page, centre, box.height / 4, brush.colour(0, 120), cv::FILLED, cv::LINE_AA);
            drawFitted(page, brush.words(2), {box.x + box.width / 2, centre.y + 5},
                       box.width / 2 - 4, brush.font(), 0.7, cv::Scalar::all(0), 1);
            bottom = box.y - gutter;
        }
        paintColumn(page, cv::Rect(x, y, columnWidth, bottom - y), brush, bodyFont);
    }
    return page;
}

} // namespace kestrel::devservice::synth
