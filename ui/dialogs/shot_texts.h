#pragma once
// The shooting-data texts of the open dialog, each at most 30 characters.
#include <QString>

#include "develop/raw_document.h"

namespace ostel::ui {

struct ShotTexts {
    QString make, model, iso, shutter, aperture, focal_length;
};

inline constexpr int kShotTextLength = 30;
inline constexpr const char* kSelectRawFile = "Please select RAW file!";

// The texts for a file whose data was found.
ShotTexts shot_texts(const develop::ShootingData& shot);
// The texts when nothing was found.
ShotTexts no_shot_texts();

}  // namespace ostel::ui
