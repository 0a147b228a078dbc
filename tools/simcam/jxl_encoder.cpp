#include "tools/simcam/jxl_encoder.h"

#include <jxl/encode.h>

#include <memory>
#include <stdexcept>

namespace ostel::simcam {

namespace {

struct EncoderDeleter {
    void operator()(JxlEncoder* encoder) const { JxlEncoderDestroy(encoder); }
};

void check(JxlEncoderStatus status, const char* what) {
    if (status != JXL_ENC_SUCCESS) throw std::runtime_error(std::string("encode_jxl: ") + what);
}

}  // namespace

std::vector<uint8_t> encode_jxl(const JxlImage& image, const std::vector<float>& values) {
    const int colour = image.channels >= 3 ? 3 : 1;
    const int extra = image.channels - colour;
    const size_t pixels = size_t(image.width) * size_t(image.height);
    if (image.channels < 1 || image.channels > 4 || values.size() != pixels * size_t(image.channels))
        throw std::invalid_argument("encode_jxl: 1 to 4 channels of width x height values");
    if (image.floating_point ? (image.bits != 16 && image.bits != 32) : (image.bits < 1 || image.bits > 16))
        throw std::invalid_argument("encode_jxl: integers of 1 to 16 bits or floats of 16 or 32");
    const std::unique_ptr<JxlEncoder, EncoderDeleter> encoder(JxlEncoderCreate(nullptr));
    JxlEncoder* enc = encoder.get();
    check(JxlEncoderUseContainer(enc, image.container ? JXL_TRUE : JXL_FALSE), "container");

    const uint32_t exponent_bits = !image.floating_point ? 0 : image.bits == 16 ? 5 : 8;
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = uint32_t(image.width);
    info.ysize = uint32_t(image.height);
    info.bits_per_sample = uint32_t(image.bits);
    info.exponent_bits_per_sample = exponent_bits;
    info.num_color_channels = uint32_t(colour);
    info.num_extra_channels = uint32_t(extra);
    info.uses_original_profile = image.distance == 0 ? JXL_TRUE : JXL_FALSE;
    check(JxlEncoderSetBasicInfo(enc, &info), "basic info");
    for (int k = 0; k < extra; ++k) {
        JxlExtraChannelInfo channel;
        JxlEncoderInitExtraChannelInfo(JXL_CHANNEL_OPTIONAL, &channel);
        channel.bits_per_sample = uint32_t(image.bits);
        channel.exponent_bits_per_sample = exponent_bits;
        check(JxlEncoderSetExtraChannelInfo(enc, size_t(k), &channel), "extra channel");
    }
    // Sensor data is linear: no transfer curve between the codes and light.
    JxlColorEncoding linear;
    JxlColorEncodingSetToLinearSRGB(&linear, colour == 1 ? JXL_TRUE : JXL_FALSE);
    check(JxlEncoderSetColorEncoding(enc, &linear), "colour encoding");

    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(enc, nullptr);
    check(JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, image.effort), "effort");
    if (image.distance == 0)
        check(JxlEncoderSetFrameLossless(settings, JXL_TRUE), "lossless");
    else
        check(JxlEncoderSetFrameDistance(settings, image.distance), "distance");

    // The encoder takes integer codes as fractions of their full scale.
    const float scale = image.floating_point ? 1.0f : 1.0f / float((1u << image.bits) - 1);
    std::vector<float> planes(pixels * size_t(colour));
    std::vector<std::vector<float>> extras(static_cast<size_t>(extra), std::vector<float>(pixels));
    for (size_t i = 0; i < pixels; ++i) {
        for (int k = 0; k < colour; ++k)
            planes[i * size_t(colour) + size_t(k)] = values[i * size_t(image.channels) + size_t(k)] * scale;
        for (int k = 0; k < extra; ++k)
            extras[size_t(k)][i] = values[i * size_t(image.channels) + size_t(colour + k)] * scale;
    }
    const JxlPixelFormat format{uint32_t(colour), JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN, 0};
    check(JxlEncoderAddImageFrame(settings, &format, planes.data(), planes.size() * sizeof(float)), "image");
    const JxlPixelFormat one{1, JXL_TYPE_FLOAT, JXL_NATIVE_ENDIAN, 0};
    for (int k = 0; k < extra; ++k)
        check(JxlEncoderSetExtraChannelBuffer(settings, &one, extras[size_t(k)].data(), pixels * sizeof(float),
                                              uint32_t(k)),
              "extra channel data");
    JxlEncoderCloseInput(enc);

    std::vector<uint8_t> out(4096);
    size_t written = 0;
    for (;;) {
        uint8_t* next = out.data() + written;
        size_t room = out.size() - written;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(enc, &next, &room);
        written = size_t(next - out.data());
        if (status == JXL_ENC_SUCCESS) break;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) throw std::runtime_error("encode_jxl: encoding failed");
        out.resize(out.size() * 2);
    }
    out.resize(written);
    return out;
}

}  // namespace ostel::simcam
