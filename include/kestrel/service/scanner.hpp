/// \file
/// Scanner: finds the page in a stream of camera frames. It picks which frames to send (sharp
/// ones that show something new), keeps at most one request in flight, pauses while the network
/// is unreachable and stops at the first page found, or goes on scanning.
#pragma once

#include <kestrel/model/image.hpp>
#include <kestrel/model/picture.hpp>
#include <kestrel/platform/bitmap.hpp>
#include <kestrel/platform/dispatch_queue.hpp>
#include <kestrel/platform/reachability_flags.hpp>
#include <kestrel/service/failure.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace kestrel {

class Server;

/// Finds the page in a stream of camera frames. The host submits every frame it has (from the
/// camera's thread); the scanner judges each one it takes and sends it only when the camera is
/// held still, the frame is sharp enough, it differs enough from the last frame sent (or the last
/// request failed in transport), and the rate limit and any back-off after a failure allow. A frame
/// that is sent is prepared exactly as Server::enrichedImage prepares a photo. At most one request
/// is in flight; frames that arrive meanwhile are dropped, never queued.
///
///     kestrel::Scanner scanner(kestrel::Server::shared(), {}, {
///         .pageFound = [](const kestrel::Image& page) { show(page); },
///         .stateChanged = [](kestrel::Scanner::State s) { hint(kestrel::stateName(s)); },
///     });
///     camera.onFrame([&](const kestrel::platform::Bitmap& frame) { scanner.submit(frame); });
class Scanner {
public:
    /// What the scanner is doing.
    enum class State {
        idle,          ///< no frame has been taken yet
        searching,     ///< judging frames; none is in flight
        sending,       ///< a frame is being recognised
        found,         ///< a page was found (with stopAtFirstPage, nothing more is sent)
        pausedOffline, ///< the network is unreachable: nothing is sent until it is back
        stopped,       ///< stop() was called or the scanner was destroyed; final
    };

    /// Which service call recognises the frames.
    enum class Recognition { enrichedImage, pictureSearch };

    /// How the scanner chooses frames and where it reports.
    struct Options {
        /// At most this many requests start per second (values ≤ 0 mean 2).
        double maximumRequestsPerSecond = 2;
        /// Stop sending after the first page found; false keeps scanning for the next one.
        bool stopAtFirstPage = true;
        /// Frames less sharp than this are not sent. Sharpness is the strength of fine detail
        /// against that of all edges, on a copy of the frame whose longer side is 256 pixels:
        /// about 140 for a printed page in focus, 110 when it is out of focus by 4 pixels of a
        /// full HD frame, 70 by 8 pixels, 40 by 16; natural photographs score 80 to 140.
        double minimumSharpness = 60;
        /// How different from the last frame sent a frame must be to be sent: the mean
        /// difference of coarse grey thumbnails, each taken about its own mean and in
        /// hundredths of its own contrast, so that exposure changes count little (0 to 255;
        /// thumbnails of frames of another shape differ by 255). The same view held still
        /// scores under 2, another page in the same place about 25. Whatever this says, a frame
        /// goes only when the camera is still: when it differs by less than 5 from the frame
        /// judged before it (a hand sweeping the camera scores 14 and more).
        double minimumChange = 10;
        /// The call frames go to.
        Recognition recognition = Recognition::enrichedImage;
        /// The wait after the first failed request; it doubles after each further failure up
        /// to longestRetryDelay, and a success resets it.
        std::chrono::milliseconds firstRetryDelay{1000};
        /// The longest wait after a failed request.
        std::chrono::milliseconds longestRetryDelay{30000};
        /// Runs the callbacks; it must run tasks one at a time, in order, and never inline.
        /// Empty: the server's session delegate queue.
        platform::DispatchQueue::Executor executor;
        /// Where reachability is read. Null: the default route of this machine. A source that
        /// refuses change callbacks leaves the scanner assuming the network is reachable.
        std::shared_ptr<platform::ReachabilityFlagSource> reachabilitySource;
    };

    /// What the scanner reports, each on the options' executor. Any of them may be empty.
    struct Callbacks {
        /// A page was found (Recognition::enrichedImage).
        std::function<void(const Image& page)> pageFound{};
        /// Pictures were found: at least one (Recognition::pictureSearch).
        std::function<void(const std::vector<Picture>& pictures)> picturesFound{};
        /// The state changed; each change is reported once, in order.
        std::function<void(State state)> stateChanged{};
        /// A request failed for another reason than "no page here"; the scanner backs off and
        /// goes on.
        std::function<void(const Failure& failure)> failed{};
    };

    /// Counts since the scanner was made, for diagnostics and tuning.
    struct Counters {
        std::uint64_t framesSubmitted = 0; ///< every call of submit
        std::uint64_t framesJudged = 0;    ///< frames measured for sharpness and change
        std::uint64_t requestsSent = 0;    ///< frames sent for recognition
    };

    /// A scanner in state idle that sends through `server`, which must outlive it. Starts
    /// watching reachability. Throws std::invalid_argument when an option is not a number.
    Scanner(Server& server, Options options, Callbacks callbacks);
    /// Stops the scanner (see stop()) without reporting the change.
    ~Scanner();
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    /// Offers a frame (RGBA, BGRA or grey, any size). From any thread, several at once; the
    /// frame is only read during the call, never kept. Returns true when the frame was taken:
    /// judged and perhaps sent. Returns false, at once, when it was dropped: another frame is
    /// being judged or is in flight, the network is unreachable, the scanner has found its page
    /// or is stopped, or the frame has no pixels or a side under 16 pixels. Judging reads the
    /// frame once at a small size (about 1 ms for full HD); a frame that is sent is scaled to
    /// the send size here too. The encoding and sending happen on a thread of the scanner's own.
    bool submit(const platform::Bitmap& frame);

    /// Stops the scanner: cancels the request in flight and reports stopped to stateChanged on
    /// the calling thread before returning. No other callback of this scanner runs after stop()
    /// returns: called from another thread than the executor's, it waits for a callback that is
    /// running at that moment to finish. Calling it again does nothing. Any thread, including
    /// inside a callback.
    void stop();

    /// The current state. Any thread.
    State state() const;
    /// The counts so far. Any thread.
    Counters counters() const;

private:
    struct Core;
    std::shared_ptr<Core> core_;
};

/// The state's name in code, e.g. "pausedOffline".
std::string_view stateName(Scanner::State state);

} // namespace kestrel
