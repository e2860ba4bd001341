// The modulator read plainly: one channel after the other, every formula as written, one
// one-bit sample at a time. The tests hold the engine's vector kernel to it bit for bit; the
// benchmark times it as the baseline. Build with -ffp-contract=off.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace dsdref {

struct State {
    double e = 0, p = 0;
    double s1 = 0, s1p = 0, s2 = 0, s2p = 0, s3 = 0, s3p = 0, s4 = 0, s4p = 0;
};

inline double Flush(double t) {
    return std::fabs(t) < 1e-150 ? 0.0 : t;
}

// Input interleaved by channel; byte k of channel c goes to out[k * channels + c].
inline void Modulate(const double* in, size_t frames, uint32_t channels, uint32_t R, State* states,
                     uint32_t& dither, uint8_t* out) {
    for (uint32_t c = 0; c < channels; ++c) {
        State& s = states[c];
        for (size_t i = 0; i < frames; ++i) {
            const double x = in[i * channels + c];
            const double step = (x - s.p) / R;
            double u = s.p;
            s.p = x;
            for (uint32_t k = 0; k < R / 8; ++k) {
                unsigned byte = 0;
                for (int b = 0; b < 8; ++b) {
                    dither = dither * 214013u + 2531011u;
                    const uint32_t r1 = (dither >> 16) & 0x7FFF;
                    dither = dither * 214013u + 2531011u;
                    const uint32_t r2 = (dither >> 16) & 0x7FFF;
                    const double d = (r1 * 32768 + r2) * 0.17 / 1073741823.0 - 0.085;
                    if (k == R / 8 - 1 && b == 7)
                        u = x;
                    else
                        u = u + step;
                    const double t1 = Flush(0.6714714826143421 * s.e + 0.855219 * s.s1);
                    const double t2 =
                        Flush(t1 - 1.818851873988273 * s.s1 + 0.828002905238657 * s.s1p +
                              1.737374 * s.s2 - 0.758104 * s.s2p);
                    const double t3 =
                        Flush(t2 - 1.8703147300286238 * s.s2 + 0.8823272144197961 * s.s2p +
                              1.804714 * s.s3 - 0.8264 * s.s3p);
                    const double t4 =
                        Flush(t3 - 1.9638172195444934 * s.s3 + 0.984217182726433 * s.s3p +
                              1.912458 * s.s4 - 0.935593 * s.s4p);
                    s.s1p = s.s1;
                    s.s1 = t1;
                    s.s2p = s.s2;
                    s.s2 = t2;
                    s.s3p = s.s3;
                    s.s3 = t3;
                    s.s4p = s.s4;
                    s.s4 = t4;
                    const double v = u - t4;
                    double q;
                    if (v + d > 0) {
                        q = 1.0;
                        byte |= 1u << (7 - b);
                    } else {
                        q = -1.0;
                    }
                    double e = q - v;
                    if (e > 1.2)
                        e = 1.2;
                    if (e < -1.2)
                        e = -1.2;
                    s.e = e;
                }
                out[(i * (R / 8) + k) * channels + c] = static_cast<uint8_t>(byte);
            }
        }
    }
}

} // namespace dsdref
