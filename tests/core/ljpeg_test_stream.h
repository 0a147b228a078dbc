#pragma once
// A small lossless JPEG writer for the decoder tests. It predicts from the
// sample grid it is given (left, above, corner in line coordinates), so its
// bookkeeping is independent of the decoder's two-line buffer.
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ostel::test {

struct LjpegParams {
    int bits = 12;           // sample precision
    int wide = 0;            // MCUs per line as written in the frame header
    int high = 0;            // lines
    int components = 2;      // frame components
    int sampling = 0x11;     // sampling byte of the first component
    int sraw = 0;            // luma samples per MCU minus one (0 for plain streams)
    int psv = 1;             // predictor
    int restart_lines = 0;   // lines per restart interval, 0 for none
    bool table_per_component = false;  // one DHT per component instead of one shared table
    bool long_code_bits = false;       // follow length code 16 by 16 bits (DNG 1.0)
    bool stray_byte = false;           // one extra byte after the frame header
    int decoded_wide = 0;    // MCUs per coded line when it differs from wide
};

// Code lengths: symbols 0..6 take 3 bits, symbol 7 + k takes 4 + k bits.
inline std::vector<uint8_t> test_huffman_table() {
    std::vector<uint8_t> params(16, 0);
    params[2] = 7;
    for (int len = 4; len <= 13; ++len) params[len - 1] = 1;
    for (int sym = 0; sym <= 16; ++sym) params.push_back(static_cast<uint8_t>(sym));
    return params;
}

class LjpegWriter {
public:
    // lines: high lines of (decoded_wide or wide) x clrs samples in coding
    // order, clrs = components + sraw.
    static std::vector<uint8_t> encode(const LjpegParams& params, const std::vector<std::vector<uint16_t>>& lines) {
        LjpegWriter w(params);
        w.header();
        w.data(lines);
        w.out_.push_back(0xFF);
        w.out_.push_back(0xD9);
        return w.out_;
    }

private:
    explicit LjpegWriter(const LjpegParams& params) : params_(params) {
        const std::vector<uint8_t> table = test_huffman_table();
        int code = 0;
        size_t sym = 16;
        for (int len = 1; len <= 16; ++len) {
            for (int i = 0; i < table[len - 1]; ++i) {
                codes_[table[sym]] = code++;
                lengths_[table[sym++]] = len;
            }
            code <<= 1;
        }
    }

    void marker(int tag, const std::vector<uint8_t>& body) {
        out_.push_back(0xFF);
        out_.push_back(static_cast<uint8_t>(tag));
        const size_t len = body.size() + 2;
        out_.push_back(static_cast<uint8_t>(len >> 8));
        out_.push_back(static_cast<uint8_t>(len));
        out_.insert(out_.end(), body.begin(), body.end());
    }

    void header() {
        out_ = {0xFF, 0xD8};
        const std::vector<uint8_t> table = test_huffman_table();
        std::vector<uint8_t> dht;
        const int tables = params_.table_per_component ? params_.components : 1;
        for (int t = 0; t < tables; ++t) {
            dht.push_back(static_cast<uint8_t>(t));
            dht.insert(dht.end(), table.begin(), table.end());
        }
        marker(0xC4, dht);
        std::vector<uint8_t> sof = {static_cast<uint8_t>(params_.bits), static_cast<uint8_t>(params_.high >> 8),
                                    static_cast<uint8_t>(params_.high), static_cast<uint8_t>(params_.wide >> 8),
                                    static_cast<uint8_t>(params_.wide), static_cast<uint8_t>(params_.components)};
        for (int c = 0; c < params_.components; ++c) {
            sof.push_back(static_cast<uint8_t>(c + 1));
            sof.push_back(static_cast<uint8_t>(c == 0 ? params_.sampling : 0x11));
            sof.push_back(0);
        }
        marker(0xC3, sof);
        if (params_.stray_byte) out_.push_back(0);
        if (params_.restart_lines) {
            const int mcus = params_.restart_lines * coded_wide();
            marker(0xDD, {static_cast<uint8_t>(mcus >> 8), static_cast<uint8_t>(mcus)});
        }
        std::vector<uint8_t> sos = {static_cast<uint8_t>(params_.components)};
        for (int c = 0; c < params_.components; ++c) {
            sos.push_back(static_cast<uint8_t>(c + 1));
            sos.push_back(static_cast<uint8_t>(params_.table_per_component ? c << 4 : 0));
        }
        sos.push_back(static_cast<uint8_t>(params_.psv));
        sos.push_back(0);
        sos.push_back(0);
        marker(0xDA, sos);
    }

    int coded_wide() const { return params_.decoded_wide ? params_.decoded_wide : params_.wide; }

    void put_bits(uint32_t value, int n) {
        for (int i = n - 1; i >= 0; --i) {
            acc_ = (acc_ << 1) | ((value >> i) & 1);
            if (++nacc_ == 8) flush_byte();
        }
    }
    void flush_byte() {
        out_.push_back(static_cast<uint8_t>(acc_));
        if ((acc_ & 0xFF) == 0xFF) out_.push_back(0);  // byte stuffing
        acc_ = 0;
        nacc_ = 0;
    }
    void align() {
        while (nacc_) put_bits(1, 1);
    }

    void put_difference(int diff) {
        diff = ((diff % 65536) + 65536) % 65536;
        if (diff > 32768) diff -= 65536;
        if (diff == 32768) {
            put_bits(static_cast<uint32_t>(codes_[16]), lengths_[16]);
            if (params_.long_code_bits) put_bits(0x8000, 16);
            return;
        }
        int mag = std::abs(diff), len = 0;
        while (mag >> len) ++len;
        put_bits(static_cast<uint32_t>(codes_[len]), lengths_[len]);
        if (len) put_bits(static_cast<uint32_t>(diff > 0 ? diff : diff + (1 << len) - 1), len);
    }

    void data(const std::vector<std::vector<uint16_t>>& lines) {
        const int clrs = params_.components + params_.sraw;
        const int wide = coded_wide();
        std::vector<int> vpred(static_cast<size_t>(clrs));
        int restart_index = 0;
        for (int jrow = 0; jrow < static_cast<int>(lines.size()); ++jrow) {
            const bool interval_start =
                jrow == 0 || (params_.restart_lines && jrow % params_.restart_lines == 0);
            if (interval_start) {
                for (int& v : vpred) v = 1 << (params_.bits - 1);
                if (jrow > 0) {
                    align();
                    out_.push_back(0xFF);
                    out_.push_back(static_cast<uint8_t>(0xD0 + (restart_index++ & 7)));
                }
            }
            const auto& line = lines[static_cast<size_t>(jrow)];
            int spred = 0;
            for (int col = 0; col < wide; ++col) {
                for (int c = 0; c < clrs; ++c) {
                    const int x = line[static_cast<size_t>(col * clrs + c)];
                    int pred;
                    if (params_.sraw && c <= params_.sraw && (col || c)) {
                        pred = spred;
                    } else if (col) {
                        pred = line[static_cast<size_t>((col - 1) * clrs + c)];
                    } else {
                        pred = vpred[static_cast<size_t>(c)];
                        vpred[static_cast<size_t>(c)] = x;
                    }
                    if (col && jrow > 0) {
                        const auto& up = lines[static_cast<size_t>(jrow - 1)];
                        const int above = up[static_cast<size_t>(col * clrs + c)];
                        const int corner = up[static_cast<size_t>((col - 1) * clrs + c)];
                        switch (params_.psv) {
                            case 2: pred = above; break;
                            case 3: pred = corner; break;
                            case 4: pred = pred + above - corner; break;
                            case 5: pred = pred + ((above - corner) >> 1); break;
                            case 6: pred = above + ((pred - corner) >> 1); break;
                            case 7: pred = (pred + above) >> 1; break;
                            default: break;
                        }
                    }
                    put_difference(x - pred);
                    if (c <= params_.sraw) spred = x;
                }
            }
        }
        align();
    }

    LjpegParams params_;
    std::vector<uint8_t> out_;
    int codes_[17] = {};
    int lengths_[17] = {};
    uint32_t acc_ = 0;
    int nacc_ = 0;
};

}  // namespace ostel::test
