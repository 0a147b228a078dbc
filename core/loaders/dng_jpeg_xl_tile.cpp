// JPEG XL tiles. The stream's header is checked against the directory's
// tile before the decoder reads any frame: the image must have the tile's
// size (itself bounded) and one channel per sample, so what the decoder
// allocates for pixels follows the tile, not the stream's word. The decoder
// runs on the calling thread (no parallel runner), so the result cannot
// depend on the number of threads.
#include <jxl/decode.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/loaders/dng_tile_codecs.h"

namespace ostel::core {

namespace {

struct DecoderDeleter {
    void operator()(JxlDecoder* decoder) const { JxlDecoderDestroy(decoder); }
};

bool layout_readable(const DngTileLayout& l, std::string& why) {
    // Integer codes come back through 32-bit floats, exact up to 16 bits.
    const bool depth_ok =
        l.floating_point ? (l.bits == 16 || l.bits == 24 || l.bits == 32) : (l.bits >= 1 && l.bits <= 16);
    if (!depth_ok) {
        why = std::string("JPEG XL tile of ") + (l.floating_point ? "floating-point" : "integer") + " samples of " +
              std::to_string(l.bits) + " bits";
        return false;
    }
    if (!dng_tile_size_ok(l.width, l.height, l.samples)) {
        why = "unusable tile size";
        return false;
    }
    return true;
}

// The stream's own description of the image against the directory's tile.
bool header_matches(const JxlBasicInfo& info, const DngTileLayout& l, std::string& why) {
    if (info.xsize != uint32_t(l.width) || info.ysize != uint32_t(l.height)) {
        why = "JPEG XL image of " + std::to_string(info.xsize) + " x " + std::to_string(info.ysize) +
              " in a tile of " + std::to_string(l.width) + " x " + std::to_string(l.height);
        return false;
    }
    const uint64_t channels = uint64_t(info.num_color_channels) + info.num_extra_channels;
    if (channels != uint64_t(l.samples)) {
        why = "JPEG XL image of " + std::to_string(channels) + " channels for " + std::to_string(l.samples) +
              " samples per pixel";
        return false;
    }
    return true;
}

// The decoder hands integer channels over as fractions of their full scale.
// An integer layout wants the codes the stream holds: a channel of b bits
// is scaled back by 2^b - 1 (its codes are what the camera stored, whatever
// depth the directory gives them), a floating-point channel by the
// directory's own full scale. Floating-point layouts take values unscaled.
bool code_scale_of(uint32_t bits, uint32_t exponent_bits, const DngTileLayout& l, double& scale, std::string& why) {
    if (l.floating_point) {
        scale = 1.0;
    } else if (exponent_bits > 0) {
        scale = double((uint32_t(1) << l.bits) - 1);
    } else if (bits >= 1 && bits <= 16) {
        scale = double((uint32_t(1) << bits) - 1);
    } else {
        why = "JPEG XL codes of " + std::to_string(bits) + " bits";
        return false;
    }
    return true;
}

}  // namespace

bool decode_jpeg_xl_tile(const uint8_t* data, size_t size, const DngTileLayout& l, DngTile& out, std::string& why) {
    if (!layout_readable(l, why)) return false;
    const JxlSignature signature = JxlSignatureCheck(data, size);
    if (signature != JXL_SIG_CODESTREAM && signature != JXL_SIG_CONTAINER) {
        why = "no JPEG XL data";
        return false;
    }
    const std::unique_ptr<JxlDecoder, DecoderDeleter> decoder(JxlDecoderCreate(nullptr));
    JxlDecoder* dec = decoder.get();
    if (!dec || JxlDecoderSubscribeEvents(dec, JXL_DEC_BASIC_INFO | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetKeepOrientation(dec, JXL_TRUE) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(dec, data, size) != JXL_DEC_SUCCESS) {
        why = "JPEG XL decoder unavailable";
        return false;
    }
    JxlDecoderCloseInput(dec);

    // Colour channels come interleaved in one buffer, each extra channel
    // (samples past the first one or three) in a buffer of its own.
    int colour = 0;
    std::vector<float> colour_values;
    std::vector<std::vector<float>> extra_values;
    std::vector<double> code_scale;  // per sample: what the decoder's 1.0 stands for
    const size_t pixels = size_t(l.width) * size_t(l.height);
    const JxlPixelFormat one_channel{1, JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN, 0};
    bool have_image = false;
    while (!have_image) {
        const JxlDecoderStatus status = JxlDecoderProcessInput(dec);
        if (status == JXL_DEC_BASIC_INFO) {
            JxlBasicInfo info;
            if (JxlDecoderGetBasicInfo(dec, &info) != JXL_DEC_SUCCESS) {
                why = "JPEG XL header not readable";
                return false;
            }
            if (!header_matches(info, l, why)) return false;
            colour = int(info.num_color_channels);
            extra_values.resize(info.num_extra_channels);
            code_scale.assign(size_t(colour), 0.0);
            for (uint32_t k = 0; k < info.num_extra_channels; ++k) {
                JxlExtraChannelInfo extra;
                if (JxlDecoderGetExtraChannelInfo(dec, k, &extra) != JXL_DEC_SUCCESS) {
                    why = "JPEG XL header not readable";
                    return false;
                }
                code_scale.push_back(0.0);
                if (!code_scale_of(extra.bits_per_sample, extra.exponent_bits_per_sample, l, code_scale.back(), why))
                    return false;
            }
            for (int k = 0; k < colour; ++k)
                if (!code_scale_of(info.bits_per_sample, info.exponent_bits_per_sample, l, code_scale[size_t(k)], why))
                    return false;
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            if (code_scale.size() != size_t(l.samples)) {
                why = "JPEG XL image before its header";
                return false;
            }
            const JxlPixelFormat format{uint32_t(colour), JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN, 0};
            size_t bytes = 0;
            if (JxlDecoderImageOutBufferSize(dec, &format, &bytes) != JXL_DEC_SUCCESS ||
                bytes != pixels * size_t(colour) * sizeof(float)) {
                why = "JPEG XL image buffer of unexpected size";
                return false;
            }
            colour_values.assign(pixels * size_t(colour), 0.0f);
            if (JxlDecoderSetImageOutBuffer(dec, &format, colour_values.data(), bytes) != JXL_DEC_SUCCESS) {
                why = "JPEG XL image buffer refused";
                return false;
            }
            for (size_t k = 0; k < extra_values.size(); ++k) {
                if (JxlDecoderExtraChannelBufferSize(dec, &one_channel, &bytes, uint32_t(k)) != JXL_DEC_SUCCESS ||
                    bytes != pixels * sizeof(float)) {
                    why = "JPEG XL extra channel of unexpected size";
                    return false;
                }
                extra_values[k].assign(pixels, 0.0f);
                if (JxlDecoderSetExtraChannelBuffer(dec, &one_channel, extra_values[k].data(), bytes, uint32_t(k)) !=
                    JXL_DEC_SUCCESS) {
                    why = "JPEG XL extra channel buffer refused";
                    return false;
                }
            }
        } else if (status == JXL_DEC_FULL_IMAGE) {
            have_image = true;  // the first frame is the tile; anything after it is not read
        } else if (status == JXL_DEC_NEED_MORE_INPUT) {
            why = "JPEG XL data cut short";
            return false;
        } else {
            why = status == JXL_DEC_SUCCESS ? "JPEG XL data holds no image" : "JPEG XL data not readable";
            return false;
        }
    }

    // Integer layouts get whole codes, no more than the directory's depth
    // holds; floating-point layouts keep the values as they are.
    const double top = l.floating_point ? 0.0 : double((uint32_t(1) << l.bits) - 1);
    const auto stored = [&](float v, double scale) -> float {
        if (l.floating_point) return v;
        if (!(v > 0)) return 0.0f;
        return float(std::min(std::round(double(v) * scale), top));
    };
    out.width = l.width;
    out.height = l.height;
    out.samples = l.samples;
    out.values.assign(pixels * size_t(l.samples), 0.0f);
    for (size_t i = 0; i < pixels; ++i) {
        float* dst = out.values.data() + i * size_t(l.samples);
        for (int k = 0; k < colour; ++k)
            dst[k] = stored(colour_values[i * size_t(colour) + size_t(k)], code_scale[size_t(k)]);
        for (size_t k = 0; k < extra_values.size(); ++k)
            dst[size_t(colour) + k] = stored(extra_values[k][i], code_scale[size_t(colour) + k]);
    }
    return true;
}

}  // namespace ostel::core
