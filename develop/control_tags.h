#pragma once
// Tags of the develop controls. The document reads every control through
// ControlSource by these numbers, and the settings database stores the
// values of an image under the same numbers.
namespace ostel::develop::tag {

// Exposure bar
inline constexpr int kExposure = 101;         // slider -10..25
inline constexpr int kWarnings = 102;         // check box: clipping warnings
inline constexpr int kHistCorrection = 104;   // check box: levels correction
inline constexpr int kShadows = 105;          // slider -15..15
inline constexpr int kHighlights = 106;       // slider -30..5
// White balance bar
inline constexpr int kWbMode = 201;           // 0 camera, 1 automatic, 2 custom
inline constexpr int kWbRed = 202;            // custom red multiplier 1 + 0.03 v
inline constexpr int kWbBlue = 203;           // custom blue multiplier 1 + 0.03 v
// Filters bar
inline constexpr int kSharpness = 301;
inline constexpr int kSharpRadius = 302;
inline constexpr int kSharpThreshold = 303;
inline constexpr int kLumaNr = 304;
inline constexpr int kLumaThreshold = 305;
inline constexpr int kChromaNr = 306;
// Pre-filters bar (read when a file is decoded)
inline constexpr int kWaveletNr = 401;        // denoise threshold 10 v
inline constexpr int kCaRed = 402;            // red scale 1 + 0.0001 v
inline constexpr int kCaBlue = 403;           // blue scale 1 + 0.0001 v
inline constexpr int kRecovery = 404;         // check box: highlight mode 1/0
// Tone bar
inline constexpr int kFillLight = 501;        // strength 0.007 v, 0 = off
inline constexpr int kContrast = 502;         // slope 1 + 0.02 v
inline constexpr int kSaturation = 503;       // -10..10
inline constexpr int kBwMode = 504;           // 0..5, "BW: Off" .. "BW: B"
inline constexpr int kMixerRed = 505;
inline constexpr int kMixerGreen = 506;
inline constexpr int kMixerBlue = 507;
// Screen and colour management
inline constexpr int kScale = 601;            // output scale 0.01 v
// Profile choices are text controls: the text is a built-in profile name
// ("Ostel RAW", "Ostel sRGB", "Ostel ROMM") or the path of an ICC file.
inline constexpr int kInputProfile = 602;
inline constexpr int kOutputProfile = 603;
inline constexpr int kDisplayProfile = 604;
// Tone-curve control points as text: "x,y x,y ..." in the curve editor's
// pixel coordinates (y grows downwards). Empty: no curve (identity table).
inline constexpr int kCurvePoints = 700;

}  // namespace ostel::develop::tag
