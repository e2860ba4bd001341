#include "codecs/dsd/DsdModulator.h"

#include <algorithm>
#include <cmath>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__FAST_MATH__)
#error "the modulator's bits depend on IEEE-exact arithmetic"
#endif

namespace {

// Loop filter: four cascaded sections.
constexpr double C0 = 0.6714714826143421, K1 = 0.855219;
constexpr double A1 = 1.818851873988273, B1 = 0.828002905238657, K2 = 1.737374, D2 = 0.758104;
constexpr double A2 = 1.8703147300286238, B2 = 0.8823272144197961, K3 = 1.804714, D3 = 0.8264;
constexpr double A3 = 1.9638172195444934, B3 = 0.984217182726433, K4 = 1.912458, D4 = 0.935593;
// Memories below this are set to exactly zero, which keeps them out of subnormal arithmetic.
constexpr double Tiny = 1e-150;
constexpr double Limit = 1.2;
constexpr double DitherScale = 0.17, DitherDivisor = 1073741823.0, DitherOffset = 0.085;

constexpr uint32_t Mul1 = ZrDsdDither::Multiplier, Add1 = ZrDsdDither::Increment;
constexpr uint32_t Mul2 = Mul1 * Mul1, Add2 = Mul1 * Add1 + Add1; // two steps at once

inline double Flush(double t) {
    return std::fabs(t) < Tiny ? 0.0 : t;
}

// The dither is d = n * 0.17 / 1073741823 - 0.085 from the two generator outputs; what is kept
// is -d, because v + d > 0 holds exactly when v > -d (a sum of two doubles rounds to zero only
// when it is zero) and -d = 0.085 - n * 0.17 / 1073741823 (round to nearest is symmetric).
inline double NegDither(uint32_t first, uint32_t second) {
    const uint32_t n = ((first >> 16) & 0x7FFF) * 32768 + ((second >> 16) & 0x7FFF);
    return DitherOffset - static_cast<double>(n) * DitherScale / DitherDivisor;
}

// One one-bit sample, exactly as the loop is defined. True for a 1.
inline bool ExactStep(ZrDsdModulatorState& s, double u, double negDither) {
    const double t1 = Flush(C0 * s.E + K1 * s.S1);
    const double t2 = Flush(t1 - A1 * s.S1 + B1 * s.S1p + K2 * s.S2 - D2 * s.S2p);
    const double t3 = Flush(t2 - A2 * s.S2 + B2 * s.S2p + K3 * s.S3 - D3 * s.S3p);
    const double t4 = Flush(t3 - A3 * s.S3 + B3 * s.S3p + K4 * s.S4 - D4 * s.S4p);
    s.S1p = s.S1;
    s.S1 = t1;
    s.S2p = s.S2;
    s.S2 = t2;
    s.S3p = s.S3;
    s.S3 = t3;
    s.S4p = s.S4;
    s.S4 = t4;
    const double v = u - t4;
    const bool one = v > negDither;
    double e = (one ? 1.0 : -1.0) - v;
    if (e < -Limit)
        e = -Limit;
    else if (e > Limit)
        e = Limit;
    s.E = e;
    return one;
}

struct Job {
    const double* Input;
    size_t Frames;
    uint32_t Channels;
    uint32_t Ratio;
    ZrDsdModulatorState* States;
    const uint32_t* Dither; // each channel's generator state at its start
    uint8_t* Output;
};

// One channel at a time; for targets without the vector kernel.
[[maybe_unused]] void ModulateChannel(const Job& job, uint32_t c) {
    ZrDsdModulatorState& s = job.States[c];
    uint32_t dither = job.Dither[c];
    uint8_t* out = job.Output + c;
    const double ratio = job.Ratio;
    for (size_t i = 0; i < job.Frames; ++i) {
        const double x = job.Input[i * job.Channels + c];
        const double step = (x - s.P) / ratio;
        double u = s.P;
        s.P = x;
        for (uint32_t k = 0; k < job.Ratio; k += 8) {
            unsigned byte = 0;
            for (uint32_t b = 0; b < 8; ++b) {
                const uint32_t first = ZrDsdDither::Next(dither);
                dither = ZrDsdDither::Next(first);
                u = k + b + 1 == job.Ratio ? x : u + step;
                if (ExactStep(s, u, NegDither(first, dither)))
                    byte |= 0x80u >> b;
            }
            *out = static_cast<uint8_t>(byte);
            out += job.Channels;
        }
    }
}

#if defined(__SSE2__)

// V vectors of two channels each run side by side: every one-bit sample is a chain of some
// twenty dependent additions, so independent channels fill the time the chain leaves idle. A
// lane with no channel of its own repeats its neighbour's channel and its results are dropped.
template <int V>
class VectorKernel {
public:
    VectorKernel(const Job& job, uint32_t first) : m_job(job) {
        for (int v = 0; v < V; ++v) {
            m_lane[v][0] = first + 2 * v;
            m_lane[v][1] = first + 2 * v + 1 < job.Channels ? first + 2 * v + 1 : first + 2 * v;
        }
    }

    void Run() {
        Load();
        const size_t bytesPerFrame = m_job.Ratio / 8;
        uint8_t* out = m_job.Output;
        const __m128d ratio = _mm_set1_pd(m_job.Ratio);
        for (size_t i = 0; i < m_job.Frames; ++i) {
            __m128d x[V], step[V], u[V];
            const double* row = m_job.Input + i * m_job.Channels;
            for (int v = 0; v < V; ++v) {
                x[v] = _mm_loadh_pd(_mm_load_sd(row + m_lane[v][0]), row + m_lane[v][1]);
                step[v] = _mm_div_pd(_mm_sub_pd(x[v], m_p[v]), ratio);
                u[v] = m_p[v];
                m_p[v] = x[v];
            }
            for (size_t j = 0; j + 1 < bytesPerFrame; ++j) {
                for (int b = 0; b < 8; ++b) {
                    for (int v = 0; v < V; ++v)
                        u[v] = _mm_add_pd(u[v], step[v]);
                    Bit(u);
                }
                Store(out);
                out += m_job.Channels;
            }
            // The last byte of a sample: its last bit takes the sample itself.
            for (int b = 0; b < 7; ++b) {
                for (int v = 0; v < V; ++v)
                    u[v] = _mm_add_pd(u[v], step[v]);
                Bit(u);
            }
            Bit(x);
            Store(out);
            out += m_job.Channels;
        }
        Save();
    }

private:
    void Load() {
        for (int v = 0; v < V; ++v) {
            const ZrDsdModulatorState& a = m_job.States[m_lane[v][0]];
            const ZrDsdModulatorState& b = m_job.States[m_lane[v][1]];
            m_e[v] = _mm_set_pd(b.E, a.E);
            m_p[v] = _mm_set_pd(b.P, a.P);
            m_s1[v] = _mm_set_pd(b.S1, a.S1);
            m_s1p[v] = _mm_set_pd(b.S1p, a.S1p);
            m_s2[v] = _mm_set_pd(b.S2, a.S2);
            m_s2p[v] = _mm_set_pd(b.S2p, a.S2p);
            m_s3[v] = _mm_set_pd(b.S3, a.S3);
            m_s3p[v] = _mm_set_pd(b.S3p, a.S3p);
            m_s4[v] = _mm_set_pd(b.S4, a.S4);
            m_s4p[v] = _mm_set_pd(b.S4p, a.S4p);
            m_dither[v] = _mm_set_epi64x(m_job.Dither[m_lane[v][1]], m_job.Dither[m_lane[v][0]]);
            m_bits[v] = _mm_setzero_si128();
        }
    }

    void Save() const {
        for (int v = 0; v < V; ++v)
            for (int lane = 0; lane < 2; ++lane)
                m_job.States[m_lane[v][lane]] = Lane(v, lane);
    }

    ZrDsdModulatorState Lane(int v, int lane) const {
        auto at = [lane](__m128d x) {
            alignas(16) double d[2];
            _mm_store_pd(d, x);
            return d[lane];
        };
        ZrDsdModulatorState s;
        s.E = at(m_e[v]);
        s.P = at(m_p[v]);
        s.S1 = at(m_s1[v]);
        s.S1p = at(m_s1p[v]);
        s.S2 = at(m_s2[v]);
        s.S2p = at(m_s2p[v]);
        s.S3 = at(m_s3[v]);
        s.S3p = at(m_s3p[v]);
        s.S4 = at(m_s4[v]);
        s.S4p = at(m_s4p[v]);
        return s;
    }

    // Writes each real lane's finished byte and starts the next one.
    void Store(uint8_t* out) {
        for (int v = 0; v < V; ++v) {
            const auto bits = static_cast<uint32_t>(_mm_cvtsi128_si32(m_bits[v]));
            out[m_lane[v][0]] = static_cast<uint8_t>(bits);
            out[m_lane[v][1]] = static_cast<uint8_t>(_mm_extract_epi16(m_bits[v], 4));
            m_bits[v] = _mm_setzero_si128();
        }
    }

    __attribute__((always_inline)) void Bit(const __m128d (&u)[V]) {
        const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
        const __m128d tiny = _mm_set1_pd(Tiny);
        const __m128d limit = _mm_set1_pd(Limit);
        __m128d t1[V], t2[V], t3[V], t4[V], e[V], nd[V], one[V];
        __m128d bad = _mm_setzero_pd();
        for (int v = 0; v < V; ++v) {
            nd[v] = NextNegDither(v);
            // The same operations in the same order as ExactStep; the flush and the clamp
            // almost never change a value, so they are checked afterwards and, when they do,
            // the step is done again the exact scalar way.
            t1[v] = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(C0), m_e[v]),
                               _mm_mul_pd(_mm_set1_pd(K1), m_s1[v]));
            t2[v] = Section(t1[v], A1, m_s1[v], B1, m_s1p[v], K2, m_s2[v], D2, m_s2p[v]);
            t3[v] = Section(t2[v], A2, m_s2[v], B2, m_s2p[v], K3, m_s3[v], D3, m_s3p[v]);
            t4[v] = Section(t3[v], A3, m_s3[v], B3, m_s3p[v], K4, m_s4[v], D4, m_s4p[v]);
            const __m128d vv = _mm_sub_pd(u[v], t4[v]);
            one[v] = _mm_cmplt_pd(nd[v], vv);
            e[v] = _mm_or_pd(_mm_and_pd(one[v], _mm_sub_pd(_mm_set1_pd(1.0), vv)),
                             _mm_andnot_pd(one[v], _mm_sub_pd(_mm_set1_pd(-1.0), vv)));
            __m128d flags = _mm_cmplt_pd(_mm_and_pd(t1[v], absMask), tiny);
            flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t2[v], absMask), tiny));
            flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t3[v], absMask), tiny));
            flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t4[v], absMask), tiny));
            flags = _mm_or_pd(flags, _mm_cmpgt_pd(_mm_and_pd(e[v], absMask), limit));
            bad = _mm_or_pd(bad, flags);
        }
        if (__builtin_expect(_mm_movemask_pd(bad) != 0, 0)) {
            ExactBit(u, nd);
            return;
        }
        for (int v = 0; v < V; ++v) {
            m_s1p[v] = m_s1[v];
            m_s1[v] = t1[v];
            m_s2p[v] = m_s2[v];
            m_s2[v] = t2[v];
            m_s3p[v] = m_s3[v];
            m_s3[v] = t3[v];
            m_s4p[v] = m_s4[v];
            m_s4[v] = t4[v];
            m_e[v] = e[v];
            // A 1 is an all-ones lane, so subtracting it shifts in a set bit.
            m_bits[v] = _mm_sub_epi64(_mm_slli_epi64(m_bits[v], 1), _mm_castpd_si128(one[v]));
        }
    }

    // t - a*s + b*sp + k*s2 - d*s2p, left to right.
    static __m128d Section(__m128d t, double a, __m128d s, double b, __m128d sp, double k,
                           __m128d next, double d, __m128d nextp) {
        __m128d r = _mm_sub_pd(t, _mm_mul_pd(_mm_set1_pd(a), s));
        r = _mm_add_pd(r, _mm_mul_pd(_mm_set1_pd(b), sp));
        r = _mm_add_pd(r, _mm_mul_pd(_mm_set1_pd(k), next));
        return _mm_sub_pd(r, _mm_mul_pd(_mm_set1_pd(d), nextp));
    }

    // Both lanes' generators advance two steps; -d from the two new states.
    __m128d NextNegDither(int v) {
        const __m128i first =
            _mm_add_epi32(_mm_mul_epu32(m_dither[v], _mm_set1_epi64x(Mul1)), _mm_set1_epi64x(Add1));
        const __m128i second =
            _mm_add_epi32(_mm_mul_epu32(m_dither[v], _mm_set1_epi64x(Mul2)), _mm_set1_epi64x(Add2));
        m_dither[v] = second;
        const __m128i low15 = _mm_set1_epi64x(0x7FFF);
        const __m128i r1 = _mm_and_si128(_mm_srli_epi64(first, 16), low15);
        const __m128i r2 = _mm_and_si128(_mm_srli_epi64(second, 16), low15);
        const __m128i n = _mm_or_si128(_mm_slli_epi64(r1, 15), r2);
        const __m128d x = _mm_cvtepi32_pd(_mm_shuffle_epi32(n, _MM_SHUFFLE(3, 3, 2, 0)));
        return _mm_sub_pd(
            _mm_set1_pd(DitherOffset),
            _mm_div_pd(_mm_mul_pd(x, _mm_set1_pd(DitherScale)), _mm_set1_pd(DitherDivisor)));
    }

    // The rare step in which a flush or the clamp changes a value.
    __attribute__((noinline, cold)) void ExactBit(const __m128d (&u)[V], const __m128d (&nd)[V]) {
        for (int v = 0; v < V; ++v) {
            alignas(16) double uu[2], dd[2];
            _mm_store_pd(uu, u[v]);
            _mm_store_pd(dd, nd[v]);
            ZrDsdModulatorState s[2] = {Lane(v, 0), Lane(v, 1)};
            long long one[2];
            for (int lane = 0; lane < 2; ++lane)
                one[lane] = ExactStep(s[lane], uu[lane], dd[lane]) ? -1 : 0;
            m_e[v] = _mm_set_pd(s[1].E, s[0].E);
            m_s1[v] = _mm_set_pd(s[1].S1, s[0].S1);
            m_s1p[v] = _mm_set_pd(s[1].S1p, s[0].S1p);
            m_s2[v] = _mm_set_pd(s[1].S2, s[0].S2);
            m_s2p[v] = _mm_set_pd(s[1].S2p, s[0].S2p);
            m_s3[v] = _mm_set_pd(s[1].S3, s[0].S3);
            m_s3p[v] = _mm_set_pd(s[1].S3p, s[0].S3p);
            m_s4[v] = _mm_set_pd(s[1].S4, s[0].S4);
            m_s4p[v] = _mm_set_pd(s[1].S4p, s[0].S4p);
            m_bits[v] = _mm_sub_epi64(_mm_slli_epi64(m_bits[v], 1), _mm_set_epi64x(one[1], one[0]));
        }
    }

    const Job& m_job;
    uint32_t m_lane[V][2];
    __m128d m_e[V], m_p[V], m_s1[V], m_s1p[V], m_s2[V], m_s2p[V], m_s3[V], m_s3p[V], m_s4[V],
        m_s4p[V];
    __m128i m_dither[V], m_bits[V];
};

template <int V>
void RunKernel(const Job& job, uint32_t first) {
    VectorKernel<V> kernel(job, first);
    kernel.Run();
}

#endif

} // namespace

uint32_t ZrDsdDither::Skip(uint32_t state, uint64_t steps) {
    // Square-and-multiply on the affine map x -> m x + a.
    uint32_t mul = 1, add = 0;
    uint32_t stepMul = Multiplier, stepAdd = Increment;
    while (steps) {
        if (steps & 1) {
            mul *= stepMul;
            add = add * stepMul + stepAdd;
        }
        stepAdd = (stepMul + 1) * stepAdd;
        stepMul *= stepMul;
        steps >>= 1;
    }
    return mul * state + add;
}

void ZrDsdModulate(const double* input, size_t frames, uint32_t channels, uint32_t ratio,
                   ZrDsdModulatorState* states, uint32_t& dither, uint8_t* output) {
    if (frames == 0 || channels == 0)
        return;
    // Each channel's generator state where its turn would begin.
    const uint64_t perChannel = uint64_t{2} * frames * ratio;
    std::vector<uint32_t> starts(channels);
    for (uint32_t c = 0; c < channels; ++c)
        starts[c] = ZrDsdDither::Skip(dither, perChannel * c);
    dither = ZrDsdDither::Skip(dither, perChannel * channels);

    const Job job{input, frames, channels, ratio, states, starts.data(), output};
#if defined(__SSE2__)
    for (uint32_t first = 0; first < channels;) {
        const uint32_t pairs = std::min<uint32_t>((channels - first + 1) / 2, 4);
        switch (pairs) {
        case 1:
            RunKernel<1>(job, first);
            break;
        case 2:
            RunKernel<2>(job, first);
            break;
        case 3:
            RunKernel<3>(job, first);
            break;
        default:
            RunKernel<4>(job, first);
            break;
        }
        first += 2 * pairs;
    }
#else
    for (uint32_t c = 0; c < channels; ++c)
        ModulateChannel(job, c);
#endif
}
