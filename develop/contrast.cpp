#include "develop/tone.h"
#include "develop/tone_support.h"

namespace ostel::develop {

Table16 contrast_table(double v) {
    const double slope = 1.0 + 0.02 * v;
    Table16 table(65536);
    for (int i = 0; i < 65536; ++i) table[size_t(i)] = detail::to_sample(32767.0 + slope * double(i - 32767));
    return table;
}

std::array<float, 3> mixer_weights(double red, double green, double blue) {
    const double sum = red + green + blue;
    if (!(sum > 0)) return {0.0f, 0.0f, 0.0f};
    return {float(red / sum), float(green / sum), float(blue / sum)};
}

}  // namespace ostel::develop
