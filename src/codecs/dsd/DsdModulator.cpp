#include "codecs/dsd/DsdModulator.h"

#include <algorithm>
#include <cmath>
#include <optional>
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

// One channel at a time in plain C++: the kernel of processors without SSE2.
void ModulateChannel(const Job& job, uint32_t c) {
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

// Two lanes (channels) of the loop memory in vector registers.
struct Pair {
    __m128d E, S1, S1p, S2, S2p, S3, S3p, S4, S4p;
};

inline double LaneOf(__m128d x, int lane) {
    return lane ? _mm_cvtsd_f64(_mm_unpackhi_pd(x, x)) : _mm_cvtsd_f64(x);
}

// t - a*s + b*sp + k*next - d*nextp, left to right.
inline __m128d Section(__m128d t, double a, __m128d s, double b, __m128d sp, double k, __m128d next,
                       double d, __m128d nextp) {
    __m128d r = _mm_sub_pd(t, _mm_mul_pd(_mm_set1_pd(a), s));
    r = _mm_add_pd(r, _mm_mul_pd(_mm_set1_pd(b), sp));
    r = _mm_add_pd(r, _mm_mul_pd(_mm_set1_pd(k), next));
    return _mm_sub_pd(r, _mm_mul_pd(_mm_set1_pd(d), nextp));
}

// Both lanes' generators advance two steps; -d from the two new states.
inline __m128d NextNegDither(__m128i& dither) {
    const __m128i first =
        _mm_add_epi32(_mm_mul_epu32(dither, _mm_set1_epi64x(Mul1)), _mm_set1_epi64x(Add1));
    const __m128i second =
        _mm_add_epi32(_mm_mul_epu32(dither, _mm_set1_epi64x(Mul2)), _mm_set1_epi64x(Add2));
    dither = second;
    const __m128i low15 = _mm_set1_epi64x(0x7FFF);
    const __m128i r1 = _mm_and_si128(_mm_srli_epi64(first, 16), low15);
    const __m128i r2 = _mm_and_si128(_mm_srli_epi64(second, 16), low15);
    const __m128i n = _mm_or_si128(_mm_slli_epi64(r1, 15), r2);
    const __m128d x = _mm_cvtepi32_pd(_mm_shuffle_epi32(n, _MM_SHUFFLE(3, 3, 2, 0)));
    return _mm_sub_pd(_mm_set1_pd(DitherOffset), _mm_div_pd(_mm_mul_pd(x, _mm_set1_pd(DitherScale)),
                                                            _mm_set1_pd(DitherDivisor)));
}

// The rare step in which a flush or the clamp changes a value, done the exact scalar way on a
// copy (so that the caller's registers never have to live in memory). Returns the new
// memories; `ones` gets an all-ones lane for each 1.
__attribute__((noinline, cold)) Pair ExactPair(Pair in, __m128d u, __m128d negDither,
                                               __m128i& ones) {
    ZrDsdModulatorState s[2];
    long long one[2];
    for (int lane = 0; lane < 2; ++lane) {
        s[lane].E = LaneOf(in.E, lane);
        s[lane].S1 = LaneOf(in.S1, lane);
        s[lane].S1p = LaneOf(in.S1p, lane);
        s[lane].S2 = LaneOf(in.S2, lane);
        s[lane].S2p = LaneOf(in.S2p, lane);
        s[lane].S3 = LaneOf(in.S3, lane);
        s[lane].S3p = LaneOf(in.S3p, lane);
        s[lane].S4 = LaneOf(in.S4, lane);
        s[lane].S4p = LaneOf(in.S4p, lane);
        one[lane] = ExactStep(s[lane], LaneOf(u, lane), LaneOf(negDither, lane)) ? -1 : 0;
    }
    ones = _mm_set_epi64x(one[1], one[0]);
    return {_mm_set_pd(s[1].E, s[0].E),     _mm_set_pd(s[1].S1, s[0].S1),
            _mm_set_pd(s[1].S1p, s[0].S1p), _mm_set_pd(s[1].S2, s[0].S2),
            _mm_set_pd(s[1].S2p, s[0].S2p), _mm_set_pd(s[1].S3, s[0].S3),
            _mm_set_pd(s[1].S3p, s[0].S3p), _mm_set_pd(s[1].S4, s[0].S4),
            _mm_set_pd(s[1].S4p, s[0].S4p)};
}

// One one-bit sample for V pairs of channels. The operations are those of ExactStep in the
// same order; the flush and the clamp almost never change a value, so they are checked
// afterwards and, when one does, the step is done again the exact way.
template <int V>
__attribute__((always_inline)) inline void Bit(Pair (&st)[V], __m128i (&dither)[V],
                                               __m128i (&bits)[V], const __m128d (&u)[V]) {
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7FFFFFFFFFFFFFFF));
    const __m128d tiny = _mm_set1_pd(Tiny);
    __m128d t1[V], t2[V], t3[V], t4[V], e[V], nd[V], one[V];
    __m128d bad = _mm_setzero_pd();
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
        nd[v] = NextNegDither(dither[v]);
        t1[v] =
            _mm_add_pd(_mm_mul_pd(_mm_set1_pd(C0), st[v].E), _mm_mul_pd(_mm_set1_pd(K1), st[v].S1));
        t2[v] = Section(t1[v], A1, st[v].S1, B1, st[v].S1p, K2, st[v].S2, D2, st[v].S2p);
        t3[v] = Section(t2[v], A2, st[v].S2, B2, st[v].S2p, K3, st[v].S3, D3, st[v].S3p);
        t4[v] = Section(t3[v], A3, st[v].S3, B3, st[v].S3p, K4, st[v].S4, D4, st[v].S4p);
        const __m128d x = _mm_sub_pd(u[v], t4[v]);
        one[v] = _mm_cmplt_pd(nd[v], x);
        e[v] = _mm_or_pd(_mm_and_pd(one[v], _mm_sub_pd(_mm_set1_pd(1.0), x)),
                         _mm_andnot_pd(one[v], _mm_sub_pd(_mm_set1_pd(-1.0), x)));
        __m128d flags = _mm_cmplt_pd(_mm_and_pd(t1[v], absMask), tiny);
        flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t2[v], absMask), tiny));
        flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t3[v], absMask), tiny));
        flags = _mm_or_pd(flags, _mm_cmplt_pd(_mm_and_pd(t4[v], absMask), tiny));
        flags = _mm_or_pd(flags, _mm_cmpgt_pd(_mm_and_pd(e[v], absMask), _mm_set1_pd(Limit)));
        bad = _mm_or_pd(bad, flags);
    }
    if (__builtin_expect(_mm_movemask_pd(bad) != 0, 0)) {
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) {
            __m128i ones;
            st[v] = ExactPair(st[v], u[v], nd[v], ones);
            bits[v] = _mm_sub_epi64(_mm_slli_epi64(bits[v], 1), ones);
        }
        return;
    }
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
        st[v] = {e[v], t1[v], st[v].S1, t2[v], st[v].S2, t3[v], st[v].S3, t4[v], st[v].S4};
        // A 1 is an all-ones lane, so subtracting it shifts in a set bit.
        bits[v] = _mm_sub_epi64(_mm_slli_epi64(bits[v], 1), _mm_castpd_si128(one[v]));
    }
}

// V vectors of two channels each run side by side: every one-bit sample is a chain of some
// twenty dependent operations, so independent channels fill the time the chain leaves idle.
// A lane with no channel of its own repeats its neighbour and writes the same bytes.
template <int V>
__attribute__((always_inline)) inline void RunKernel(const Job& job, uint32_t first) {
    uint32_t lane[V][2];
    Pair st[V];
    __m128d p[V];
    __m128i dither[V], bits[V];
#pragma GCC unroll 4
    for (int v = 0; v < V; ++v) {
        lane[v][0] = first + 2 * v;
        lane[v][1] = first + 2 * v + 1 < job.Channels ? first + 2 * v + 1 : first + 2 * v;
        const ZrDsdModulatorState& a = job.States[lane[v][0]];
        const ZrDsdModulatorState& b = job.States[lane[v][1]];
        st[v] = {_mm_set_pd(b.E, a.E),     _mm_set_pd(b.S1, a.S1),   _mm_set_pd(b.S1p, a.S1p),
                 _mm_set_pd(b.S2, a.S2),   _mm_set_pd(b.S2p, a.S2p), _mm_set_pd(b.S3, a.S3),
                 _mm_set_pd(b.S3p, a.S3p), _mm_set_pd(b.S4, a.S4),   _mm_set_pd(b.S4p, a.S4p)};
        p[v] = _mm_set_pd(b.P, a.P);
        dither[v] = _mm_set_epi64x(job.Dither[lane[v][1]], job.Dither[lane[v][0]]);
        bits[v] = _mm_setzero_si128();
    }

    const size_t bytesPerFrame = job.Ratio / 8;
    const __m128d ratio = _mm_set1_pd(job.Ratio);
    uint8_t* out = job.Output;
    auto store = [&] {
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) {
            out[lane[v][0]] = static_cast<uint8_t>(_mm_cvtsi128_si32(bits[v]));
            out[lane[v][1]] = static_cast<uint8_t>(_mm_extract_epi16(bits[v], 4));
            bits[v] = _mm_setzero_si128();
        }
        out += job.Channels;
    };
    for (size_t i = 0; i < job.Frames; ++i) {
        __m128d x[V], step[V], u[V];
        const double* row = job.Input + i * job.Channels;
#pragma GCC unroll 4
        for (int v = 0; v < V; ++v) {
            x[v] = _mm_loadh_pd(_mm_load_sd(row + lane[v][0]), row + lane[v][1]);
            step[v] = _mm_div_pd(_mm_sub_pd(x[v], p[v]), ratio);
            u[v] = p[v];
            p[v] = x[v];
        }
        for (size_t j = 0; j + 1 < bytesPerFrame; ++j) {
            for (int b = 0; b < 8; ++b) {
#pragma GCC unroll 4
                for (int v = 0; v < V; ++v)
                    u[v] = _mm_add_pd(u[v], step[v]);
                Bit<V>(st, dither, bits, u);
            }
            store();
        }
        // The last byte of a sample: its last bit takes the sample itself.
        for (int b = 0; b < 7; ++b) {
#pragma GCC unroll 4
            for (int v = 0; v < V; ++v)
                u[v] = _mm_add_pd(u[v], step[v]);
            Bit<V>(st, dither, bits, u);
        }
        Bit<V>(st, dither, bits, x);
        store();
    }

#pragma GCC unroll 4
    for (int v = 0; v < V; ++v)
        for (int l = 0; l < 2; ++l) {
            ZrDsdModulatorState& s = job.States[lane[v][l]];
            s.E = LaneOf(st[v].E, l);
            s.P = LaneOf(p[v], l);
            s.S1 = LaneOf(st[v].S1, l);
            s.S1p = LaneOf(st[v].S1p, l);
            s.S2 = LaneOf(st[v].S2, l);
            s.S2p = LaneOf(st[v].S2p, l);
            s.S3 = LaneOf(st[v].S3, l);
            s.S3p = LaneOf(st[v].S3p, l);
            s.S4 = LaneOf(st[v].S4, l);
            s.S4p = LaneOf(st[v].S4p, l);
        }
}

// Up to four pairs of channels at a time.
__attribute__((always_inline)) inline void RunGroups(const Job& job) {
    for (uint32_t first = 0; first < job.Channels;) {
        const uint32_t pairs = std::min<uint32_t>((job.Channels - first + 1) / 2, 4);
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
}

// The same kernel for wider instruction sets: the same 128-bit operations, but with
// three-operand forms and, with AVX-512, twice the registers, so the loop state stays in them.
void RunSse2(const Job& job) {
    RunGroups(job);
}
__attribute__((target("avx2"))) void RunAvx2(const Job& job) {
    RunGroups(job);
}
__attribute__((target("avx512f,avx512vl"))) void RunAvx512(const Job& job) {
    RunGroups(job);
}

#endif

void RunPortable(const Job& job) {
    for (uint32_t c = 0; c < job.Channels; ++c)
        ModulateChannel(job, c);
}

struct Kernel {
    ZrDsdKernel Id;
    void (*Run)(const Job&);
};

std::optional<Kernel> KernelFor(ZrDsdKernel id) {
    switch (id) {
    case ZrDsdKernel::Portable:
        return Kernel{id, RunPortable};
#if defined(__SSE2__)
    case ZrDsdKernel::Sse2:
        return Kernel{id, RunSse2};
    case ZrDsdKernel::Avx2:
        if (__builtin_cpu_supports("avx2"))
            return Kernel{id, RunAvx2};
        break;
    case ZrDsdKernel::Avx512:
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl"))
            return Kernel{id, RunAvx512};
        break;
#endif
    default:
        break;
    }
    return std::nullopt;
}

Kernel& ActiveKernel() {
    static Kernel active = [] {
        __builtin_cpu_init();
        for (ZrDsdKernel id : {ZrDsdKernel::Avx512, ZrDsdKernel::Avx2, ZrDsdKernel::Sse2})
            if (auto kernel = KernelFor(id))
                return *kernel;
        return *KernelFor(ZrDsdKernel::Portable);
    }();
    return active;
}

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
    ActiveKernel().Run(job);
}

bool ZrDsdSelectKernel(ZrDsdKernel id) {
    const auto kernel = KernelFor(id);
    if (kernel)
        ActiveKernel() = *kernel;
    return kernel.has_value();
}

ZrDsdKernel ZrDsdActiveKernel() {
    return ActiveKernel().Id;
}
