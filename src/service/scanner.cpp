#include <kestrel/service/scanner.hpp>

#include "service/frame_judge.hpp"
#include "service/recognition_request.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/config/reachability.hpp>
#include <kestrel/config/sdk_configuration.hpp>
#include <kestrel/service/server.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace kestrel {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Two frames whose views differ by less than this were taken by a camera held still: sensor noise
// and a tremor score under 2, a hand sweeping the camera 14 and more.
constexpr double stillness = 5.0;

Scanner::Options checked(Scanner::Options options) {
    if (!std::isfinite(options.maximumRequestsPerSecond) ||
        !std::isfinite(options.minimumSharpness) || !std::isfinite(options.minimumChange))
        throw std::invalid_argument("Scanner options: the rate and sharpness must be numbers");
    if (options.maximumRequestsPerSecond <= 0) options.maximumRequestsPerSecond = 2;
    options.minimumChange = std::clamp(options.minimumChange, 0.0, 255.0);
    options.firstRetryDelay = std::max(options.firstRetryDelay, milliseconds(0));
    options.longestRetryDelay = std::max(options.longestRetryDelay, options.firstRetryDelay);
    return options;
}

// Packs the frame's rows into `pixels` (reusing its storage) and returns the bytes per row.
std::size_t copyRows(const platform::Bitmap& frame, std::vector<std::uint8_t>& pixels) {
    const std::size_t rowBytes =
        static_cast<std::size_t>(frame.pixelWidth()) * platform::bytesPerPixel(frame.format());
    pixels.resize(rowBytes * static_cast<std::size_t>(frame.pixelHeight()));
    for (int y = 0; y < frame.pixelHeight(); ++y)
        std::memcpy(pixels.data() + rowBytes * static_cast<std::size_t>(y), frame.row(y), rowBytes);
    return rowBytes;
}

// A copy of the frame in a buffer of its own, for a frame that is already at the send size (the
// scanner's frame buffer is reused for the next frame).
std::shared_ptr<const platform::Bitmap> ownedCopy(const platform::Bitmap& frame) {
    std::vector<std::uint8_t> pixels;
    const std::size_t rowBytes = copyRows(frame, pixels);
    return platform::Bitmap::withPixels(frame.format(), frame.pixelWidth(), frame.pixelHeight(),
                                        rowBytes, std::move(pixels), frame.scale());
}

// What a request gave back: a page, pictures, nothing to be found, or a failure.
struct Outcome {
    std::optional<Image> page;
    std::vector<Picture> pictures;
    std::optional<Failure> failure;
};

} // namespace

struct Scanner::Core : std::enable_shared_from_this<Core> {
    Core(Server& owner, Options chosen, Callbacks given)
        : server(owner), options(checked(std::move(chosen))), callbacks(std::move(given)),
          sender(platform::DispatchQueue::create("kestrel.scanner")) {}

    Server& server;
    const Options options;
    const Callbacks callbacks;
    const std::shared_ptr<platform::DispatchQueue> sender; // encodes and sends, off the camera
    std::shared_ptr<Reachability> reachability;

    // Held while a callback runs and by stop(), so that none runs once stop() has returned.
    // Recursive: a callback may call stop().
    std::recursive_mutex delivery;

    mutable std::mutex mutex;
    State state = State::idle;
    bool stopped = false;
    bool judging = false;
    bool inFlight = false;
    bool offline = false;
    bool tookFrame = false;
    std::vector<std::uint8_t> frameCopy;            // the frame being sent, until it is scaled
    std::optional<service::Fingerprint> lastSent;   // of the last frame sent
    std::optional<service::Fingerprint> lastJudged; // of the frame judged before
    bool resendSameView = false;                    // the last send failed in transport
    Clock::time_point nextSend{};                   // rate limit and back-off
    milliseconds retryDelay{0};
    Call call;
    Counters counts;

    // Marks the scanner stopped and cancels the request in flight; false when it already was.
    bool halt() {
        Call inFlightCall;
        {
            std::lock_guard lock(mutex);
            if (stopped) return false;
            stopped = true;
            state = State::stopped;
            inFlightCall = std::exchange(call, Call());
        }
        inFlightCall.cancel();
        return true;
    }

    bool pageIsFinal() const { return state == State::found && options.stopAtFirstPage; }

    // Runs fn on the executor unless the scanner has stopped by then.
    void deliver(std::function<void(const Callbacks&)> fn) {
        platform::DispatchQueue::Task task = [weak = weak_from_this(), fn = std::move(fn)] {
            const auto core = weak.lock();
            if (!core) return;
            std::lock_guard hold(core->delivery);
            {
                std::lock_guard lock(core->mutex);
                if (core->stopped) return;
            }
            fn(core->callbacks);
        };
        if (options.executor)
            options.executor(std::move(task));
        else
            server.session()->delegateQueue().async(std::move(task));
    }

    // With mutex held.
    void moveTo(State next) {
        if (state == next || stopped) return;
        state = next;
        deliver([next](const Callbacks& c) {
            if (c.stateChanged) c.stateChanged(next);
        });
    }

    // With mutex held: where the scanner stands when nothing special holds it.
    State restingState() const {
        if (offline) return State::pausedOffline;
        if (inFlight) return State::sending;
        return tookFrame ? State::searching : State::idle;
    }

    void reachabilityChanged(bool reachable) {
        std::lock_guard lock(mutex);
        offline = !reachable;
        if (pageIsFinal()) return;
        if (!reachable || state == State::pausedOffline) moveTo(restingState());
    }

    // On the sender thread: scales the copied frame exactly as enrichedImage prepares a photo and
    // sends it.
    void prepareAndSend(const std::shared_ptr<const platform::Bitmap>& copy) {
        {
            std::lock_guard lock(mutex);
            if (stopped) return;
        }
        auto prepared = service::photoToSend(
            copy, SdkConfiguration::shared().floatValueForKey(ConfigurationKey::sdkImageSendWidth),
            KestrelManager::shared().useBlackAndWhite());
        if (prepared == copy) prepared = ownedCopy(*copy); // already at the send size
        if (!prepared) {
            std::lock_guard lock(mutex);
            inFlight = false;
            moveTo(restingState());
            return;
        }
        const std::weak_ptr<Core> weak = weak_from_this();
        Call made;
        if (options.recognition == Recognition::enrichedImage) {
            made = server.enrichedImage(prepared,
                                        Server::ImageResultCompletion([weak](Result<Image> result) {
                                            if (const auto core = weak.lock())
                                                core->finished(result);
                                        }));
        } else {
            made = server.pictureSearch(
                prepared, Server::PicturesResultCompletion([weak](Result<std::vector<Picture>> r) {
                    if (const auto core = weak.lock()) core->finished(r);
                }));
        }
        std::unique_lock lock(mutex);
        if (!stopped) {
            if (inFlight) call = made;
            return;
        }
        lock.unlock();
        made.cancel();
    }

    void finished(const Result<Image>& result) {
        Outcome outcome;
        if (result) {
            outcome.page = result.value();
        } else if (!(result.failure().cause == FailureCause::httpStatus &&
                     result.failure().httpStatus == 404)) {
            outcome.failure = result.failure(); // 404: no page in this frame
        }
        conclude(std::move(outcome));
    }

    void finished(const Result<std::vector<Picture>>& result) {
        Outcome outcome;
        if (result)
            outcome.pictures = result.value();
        else
            outcome.failure = result.failure();
        conclude(std::move(outcome));
    }

    void conclude(Outcome outcome) {
        std::lock_guard lock(mutex);
        if (stopped || !inFlight) return;
        inFlight = false;
        call = Call();
        if (outcome.failure) {
            const Failure failure = *outcome.failure;
            retryDelay = retryDelay.count() == 0
                             ? options.firstRetryDelay
                             : std::min(retryDelay * 2, options.longestRetryDelay);
            milliseconds wait = retryDelay;
            if (failure.retryAfter)
                wait = std::min(std::max(wait, milliseconds(*failure.retryAfter)),
                                options.longestRetryDelay);
            nextSend = std::max(nextSend, Clock::now() + wait);
            resendSameView = failure.cause == FailureCause::transport;
            deliver([failure](const Callbacks& c) {
                if (c.failed) c.failed(failure);
            });
            moveTo(restingState());
            return;
        }
        retryDelay = milliseconds(0);
        if (outcome.page) {
            deliver([page = std::move(*outcome.page)](const Callbacks& c) {
                if (c.pageFound) c.pageFound(page);
            });
        } else if (!outcome.pictures.empty()) {
            deliver([pictures = std::move(outcome.pictures)](const Callbacks& c) {
                if (c.picturesFound) c.picturesFound(pictures);
            });
        } else {
            moveTo(restingState());
            return;
        }
        moveTo(State::found);
    }
};

Scanner::Scanner(Server& server, Options options, Callbacks callbacks)
    : core_(std::make_shared<Core>(server, std::move(options), std::move(callbacks))) {
    core_->reachability = core_->options.reachabilitySource
                              ? Reachability::create(core_->options.reachabilitySource)
                              : Reachability::create();
    if (!core_->reachability) return;
    const std::weak_ptr<Core> weak = core_;
    core_->reachability->setWhenReachable([weak](Reachability&) {
        if (const auto core = weak.lock()) core->reachabilityChanged(true);
    });
    core_->reachability->setWhenUnreachable([weak](Reachability&) {
        if (const auto core = weak.lock()) core->reachabilityChanged(false);
    });
    try {
        core_->reachability->startNotifier();
    } catch (const ReachabilityError&) {
        core_->reachability.reset(); // no change reports: the network counts as reachable
    }
}

Scanner::~Scanner() {
    {
        std::lock_guard hold(core_->delivery);
        core_->halt();
    }
    if (core_->reachability) core_->reachability->stopNotifier();
}

bool Scanner::submit(const platform::Bitmap& frame) {
    Core& core = *core_;
    {
        std::lock_guard lock(core.mutex);
        ++core.counts.framesSubmitted;
        if (core.stopped || core.judging || core.inFlight || core.offline || core.pageIsFinal())
            return false;
        core.judging = true;
    }
    const auto look = service::lookAt(frame);
    std::unique_lock lock(core.mutex);
    core.judging = false;
    if (!look || core.stopped || core.offline) return false;
    ++core.counts.framesJudged;
    core.tookFrame = true;
    if (core.state == State::idle || core.state == State::found) core.moveTo(State::searching);
    // Motion shows as a changing view from one judged frame to the next; a smeared frame is
    // never worth sending, however sharp its still parts look.
    const bool still = core.lastJudged && service::fingerprintDistance(
                                              *core.lastJudged, look->fingerprint) < stillness;
    core.lastJudged = look->fingerprint;
    const bool changed = !core.lastSent || core.resendSameView ||
                         service::fingerprintDistance(*core.lastSent, look->fingerprint) >=
                             core.options.minimumChange;
    if (!still || look->sharpness < core.options.minimumSharpness || !changed ||
        Clock::now() < core.nextSend)
        return true;
    core.inFlight = true;
    core.lastSent = look->fingerprint;
    core.resendSameView = false;
    core.nextSend = Clock::now() +
                    std::chrono::duration_cast<Clock::duration>(
                        std::chrono::duration<double>(1.0 / core.options.maximumRequestsPerSecond));
    ++core.counts.requestsSent;
    core.moveTo(State::sending);
    lock.unlock();

    // The frame is copied into the scanner's own buffer (a copy is far cheaper than scaling it),
    // and scaled, encoded and sent on the scanner's thread. The buffer is reused: the next frame
    // is copied only once this one's request has completed, long after it was scaled.
    const std::size_t rowBytes = copyRows(frame, core.frameCopy);
    auto copy = platform::Bitmap::borrowing(frame.format(), frame.pixelWidth(), frame.pixelHeight(),
                                            rowBytes, core.frameCopy.data(), frame.scale());
    core.sender->async([weak = std::weak_ptr<Core>(core_), copy = std::move(copy)] {
        if (const auto c = weak.lock()) c->prepareAndSend(copy);
    });
    return true;
}

void Scanner::stop() {
    std::lock_guard hold(core_->delivery);
    if (core_->halt() && core_->callbacks.stateChanged)
        core_->callbacks.stateChanged(State::stopped);
}

Scanner::State Scanner::state() const {
    std::lock_guard lock(core_->mutex);
    return core_->state;
}

Scanner::Counters Scanner::counters() const {
    std::lock_guard lock(core_->mutex);
    return core_->counts;
}

std::string_view stateName(Scanner::State state) {
    switch (state) {
    case Scanner::State::idle:
        return "idle";
    case Scanner::State::searching:
        return "searching";
    case Scanner::State::sending:
        return "sending";
    case Scanner::State::found:
        return "found";
    case Scanner::State::pausedOffline:
        return "pausedOffline";
    case Scanner::State::stopped:
        return "stopped";
    }
    return "unknown";
}

} // namespace kestrel
