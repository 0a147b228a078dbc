#include "ui/dialogs/shot_texts.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ostel::ui {

namespace {

QString bounded(const QString& text) { return text.left(kShotTextLength); }

// A whole number of a float that may be unknown, huge or not a number.
long long truncated(double v) {
    if (!std::isfinite(v)) return 0;
    return (long long)std::clamp(v, -1e15, 1e15);
}

}  // namespace

ShotTexts shot_texts(const develop::ShootingData& shot) {
    ShotTexts t;
    t.make = bounded(QString::fromStdString(shot.make));
    t.model = bounded(QString::fromStdString(shot.model));
    t.iso = bounded(QString("ISO: %1").arg(truncated(shot.iso)));
    // An unknown exposure time has no text.
    const double s = shot.shutter;
    if (std::isfinite(s) && s > 0) {
        t.shutter = s < 1 ? QString("Shutter: 1/%1 s").arg(truncated(1.0 / s + 0.01))
                          : QString("Shutter: %1 s").arg(truncated(s));
        t.shutter = bounded(t.shutter);
    }
    // One decimal; exponent form with three significant digits beyond 1e9.
    char number[32];
    const double a = shot.aperture;
    if (std::isfinite(a) && std::fabs(a) >= 1e9)
        std::snprintf(number, sizeof number, "%.2e", a);
    else
        std::snprintf(number, sizeof number, "%.1f", std::isfinite(a) ? a : 0.0);
    t.aperture = bounded(QString("Aperture: f/%1").arg(number));
    const long long focal = truncated(shot.focal_length);
    t.focal_length = bounded(focal == 0 ? QString("Focal Length: N/A") : QString("Focal Length: %1 mm").arg(focal));
    return t;
}

ShotTexts no_shot_texts() {
    ShotTexts t;
    t.make = kSelectRawFile;
    return t;
}

}  // namespace ostel::ui
