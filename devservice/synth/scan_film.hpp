// What a phone camera shows while a reader scans a page: a hand sweeping the phone over the page
// (every frame smeared by the motion), then the phone held still over it, then, for the last
// seconds, held still over another page.
#pragma once

#include <opencv2/core.hpp>

namespace kestrel::devservice::synth {

struct FilmShape {
    double seconds = 10, fps = 30;
    double moving = 3;     // seconds of motion at the start
    double secondPage = 2; // seconds over the second page at the end (0: none)
    cv::Size size{1920, 1080};
};

class ScanFilm {
public:
    // The pages are BGR images; they fill 90 % of the frame's height.
    ScanFilm(cv::Mat firstPage, cv::Mat secondPage, FilmShape shape = {});

    int frameCount() const;
    // The time of frame `index` in seconds from the start.
    double timeOf(int index) const { return index / shape_.fps; }
    // Frame `index` (BGR); the same index always gives the same frame.
    cv::Mat frame(int index) const;

private:
    cv::Mat first_, second_, desk_;
    FilmShape shape_;
};

} // namespace kestrel::devservice::synth
