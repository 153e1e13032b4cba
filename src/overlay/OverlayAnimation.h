#pragma once
// The timing curves of the overlay: a damped spring given by its response and damping fraction,
// cubic-bezier eases, and a small frame ticker that runs on the main queue only while something
// moves.

#include <functional>

#include "platform/Clock.h"
#include "platform/Executor.h"

namespace vocalynx {

// A cubic bezier from (0, 0) to (1, 1) through the control points (x1, y1) and (x2, y2).
class CubicBezier {
public:
    constexpr CubicBezier(double x1, double y1, double x2, double y2) : x1_(x1), y1_(y1), x2_(x2), y2_(y2) {}
    // The eased value at a time fraction in [0, 1].
    double valueAt(double t) const;

    static constexpr CubicBezier easeIn() { return {0.42, 0, 1, 1}; }
    static constexpr CubicBezier easeOut() { return {0, 0, 0.58, 1}; }
    static constexpr CubicBezier easeInOut() { return {0.42, 0, 0.58, 1}; }

private:
    double x1_, y1_, x2_, y2_;
};

// One animation: a spring (response in seconds = the period of the undamped oscillation, damping
// fraction 1 = critical) or an ease over a fixed duration.
class AnimationCurve {
public:
    static AnimationCurve spring(double response, double dampingFraction);
    static AnimationCurve ease(CubicBezier curve, double duration);

    // Progress from 0 towards 1 at the given seconds since the start; a spring may pass 1 briefly.
    double progress(double elapsed) const;
    // Seconds after which the animation counts as finished (a spring: once its swing is below a
    // thousandth of the distance).
    double duration() const { return duration_; }

    bool isSpring() const { return spring_; }
    double response() const { return response_; }
    double dampingFraction() const { return damping_; }

private:
    AnimationCurve() = default;
    bool spring_ = false;
    double response_ = 0, damping_ = 1, duration_ = 0;
    CubicBezier bezier_{0, 0, 1, 1};
};

// Calls its callback about sixty times a second (or at its own interval) on the main queue
// between start and stop. A coarse ticker lets the main loop shift each tick by up to 5 % so it
// shares wake-ups with other periodic timers; animations that must look smooth stay precise.
// A coarse ticker whose interval is at least one of the main queue's coarse steps and below half
// a second (the pointer poll's 50 ms, the cat's 0.22 s on 50 ms steps) counts steps instead: each
// tick falls on the step boundary nearest its due time, within half a step of it, and the ticks
// keep the interval exactly on average (0.20 s and 0.25 s in turn), so they wake the main thread
// together with the other periodic work of those steps rather than on their own, and every step
// costs them one shared timer instead of a timer each.
enum class TickTiming { precise, coarse };

class FrameTicker {
public:
    FrameTicker(MainQueue& main, std::function<void()> onFrame, double interval = 1.0 / 60.0,
                TickTiming timing = TickTiming::precise);
    ~FrameTicker();
    FrameTicker(const FrameTicker&) = delete;
    FrameTicker& operator=(const FrameTicker&) = delete;

    void start();
    void stop();
    bool isRunning() const { return pending_.isValid(); }

private:
    void schedule();
    MainQueue& main_;
    std::function<void()> onFrame_;
    double interval_;
    TickTiming timing_;
    TaskHandle pending_;
    double credit_ = 0;  // counted steps: the time since the last tick's due time
};

}  // namespace vocalynx
