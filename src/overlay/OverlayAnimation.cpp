#include "overlay/OverlayAnimation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vocalynx {

double CubicBezier::valueAt(double t) const {
    if (t <= 0) return 0;
    if (t >= 1) return 1;
    // Solve x(s) = t for the curve parameter s, then return y(s).
    auto coord = [](double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * s * a + 3 * u * s * s * b + s * s * s;
    };
    auto slope = [](double a, double b, double s) {
        const double u = 1 - s;
        return 3 * u * u * a + 6 * u * s * (b - a) + 3 * s * s * (1 - b);
    };
    double s = t;
    for (int i = 0; i < 8; ++i) {
        const double err = coord(x1_, x2_, s) - t;
        if (std::abs(err) < 1e-7) return coord(y1_, y2_, s);
        const double d = slope(x1_, x2_, s);
        if (std::abs(d) < 1e-6) break;
        s -= err / d;
    }
    // Newton did not settle: bisect.
    double lo = 0, hi = 1;
    s = t;
    for (int i = 0; i < 60; ++i) {
        const double x = coord(x1_, x2_, s);
        if (std::abs(x - t) < 1e-7) break;
        (x < t ? lo : hi) = s;
        s = (lo + hi) * 0.5;
    }
    return coord(y1_, y2_, s);
}

AnimationCurve AnimationCurve::spring(double response, double dampingFraction) {
    AnimationCurve c;
    c.spring_ = true;
    c.response_ = response;
    c.damping_ = dampingFraction;
    const double omega = 2 * std::numbers::pi / response;
    const double decay = dampingFraction * omega;
    // The swing's envelope is exp(-decay t) / sqrt(1 - zeta^2) for an underdamped spring.
    const double scale = dampingFraction < 1 ? 1 / std::sqrt(1 - dampingFraction * dampingFraction) : 1 + omega;
    c.duration_ = std::log(1000 * scale) / decay;
    return c;
}

AnimationCurve AnimationCurve::ease(CubicBezier curve, double duration) {
    AnimationCurve c;
    c.bezier_ = curve;
    c.duration_ = duration;
    return c;
}

double AnimationCurve::progress(double elapsed) const {
    if (elapsed <= 0) return 0;
    if (elapsed >= duration_) return 1;
    if (!spring_) return bezier_.valueAt(elapsed / duration_);
    // Unit step response of a mass on a spring that starts at rest at 0 and settles at 1.
    const double omega = 2 * std::numbers::pi / response_;
    const double zeta = damping_;
    if (zeta < 1) {
        const double wd = omega * std::sqrt(1 - zeta * zeta);
        const double envelope = std::exp(-zeta * omega * elapsed);
        return 1 - envelope * (std::cos(wd * elapsed) + zeta * omega / wd * std::sin(wd * elapsed));
    }
    return 1 - std::exp(-omega * elapsed) * (1 + omega * elapsed);
}

FrameTicker::FrameTicker(MainQueue& main, std::function<void()> onFrame, double interval, TickTiming timing)
    : main_(main), onFrame_(std::move(onFrame)), interval_(interval), timing_(timing) {}

FrameTicker::~FrameTicker() { stop(); }

void FrameTicker::start() {
    if (pending_.isValid()) return;
    credit_ = 0;
    const double step = timing_ == TickTiming::coarse ? main_.coarseStep().count() : 0;
    // Longer intervals (the one-second heartbeats) already come due on half-second boundaries.
    if (step > 0 && interval_ > step - 1e-9 && interval_ < 0.5) {
        // The handle is cancelled when the ticker stops or goes away, so the task never outlives it.
        pending_ = main_.postEveryCoarseStep([this, step] {
            credit_ += step;
            if (credit_ < interval_ - step / 2 - 1e-9) return;
            credit_ -= interval_;
            onFrame_();
        });
        return;
    }
    schedule();
}

void FrameTicker::stop() {
    pending_.cancel();
    pending_ = TaskHandle();
}

void FrameTicker::schedule() {
    auto tick = [this] {
        pending_ = TaskHandle();
        schedule();
        onFrame_();
    };
    pending_ = timing_ == TickTiming::coarse ? main_.postAfterCoarse(Duration(interval_), std::move(tick))
                                             : main_.postAfter(Duration(interval_), std::move(tick));
}

}  // namespace vocalynx
