#include "codec/Kernels.h"

#include "codec/CodecConstants.h"
#include "codec/PulseSearchCore.h"
#include "codec/SpeechCodec.h"
#include "support/TestData.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace velmar {
namespace {

// Makes a path the active one for the life of the object, then restores the one before.
class CForcedPath {
public:
    explicit CForcedPath(KernelPath path)
        : previous(ActiveKernelPath()) {
        forced = ForceKernelPath(path);
    }
    ~CForcedPath() { ForceKernelPath(previous); }
    CForcedPath(const CForcedPath&) = delete;
    CForcedPath& operator=(const CForcedPath&) = delete;
    bool Forced() const { return forced; }

private:
    KernelPath previous;
    bool forced = false;
};

std::string PathName(KernelPath path) {
    switch (path) {
    case KernelPath::Avx2:
        return "avx2";
    case KernelPath::Avx512:
        return "avx512";
    case KernelPath::Portable:
        break;
    }
    return "portable";
}

// Inputs long enough for every kernel: 160 samples of history (145 are read), then 300 and more.
constexpr std::size_t kInputLength = 480;
using Input = std::vector<double>;

struct InputCase {
    const char* name;
    std::function<Input(test::Rng&)> make;
};

Input Uniform(test::Rng& rng, double amplitude) {
    std::uniform_real_distribution<double> dist(-amplitude, amplitude);
    Input v(kInputLength);
    for (double& x : v) {
        x = dist(rng);
    }
    return v;
}

const std::vector<InputCase>& InputCases() {
    static const std::vector<InputCase> cases = {
        {"random speech scale", [](test::Rng& rng) { return Uniform(rng, 32768.0); }},
        {"random unit scale", [](test::Rng& rng) { return Uniform(rng, 1.0); }},
        {"full scale",
         [](test::Rng&) {
             Input v(kInputLength);
             for (std::size_t i = 0; i < v.size(); ++i) {
                 v[i] = i % 3 == 0 ? -32768.0 : 32767.0;
             }
             return v;
         }},
        {"silence with negative zeros",
         [](test::Rng&) {
             Input v(kInputLength);
             for (std::size_t i = 0; i < v.size(); ++i) {
                 v[i] = i % 2 == 0 ? 0.0 : -0.0;
             }
             return v;
         }},
        {"denormal range",
         [](test::Rng& rng) {
             Input v = Uniform(rng, 1.0);
             for (double& x : v) {
                 x *= 4.0 * std::numeric_limits<double>::denorm_min() * 1e6;
             }
             return v;
         }},
        {"huge and tiny mixed",
         [](test::Rng& rng) {
             Input v = Uniform(rng, 1.0);
             for (std::size_t i = 0; i < v.size(); ++i) {
                 v[i] *= i % 5 == 0 ? 1e150 : 1e-150;
             }
             return v;
         }},
    };
    return cases;
}

// One kernel run on inputs a and b, writing `outputs` doubles.
struct KernelCase {
    const char* name;
    int outputs;
    std::function<void(const KernelSet&, const double* a, const double* b, double* out)> run;
    std::function<void(const double* a, const double* b, double* out)> reference;
    std::function<bool(int output)> specified = [](int) { return true; };
};

// Inputs are passed 160 samples in, leaving history before them.
constexpr std::size_t kHistory = 160;

const std::vector<KernelCase>& KernelCases() {
    static const std::vector<KernelCase> cases = {
        {"CausalConvolution", kSubframeSamples,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             k.causalConvolution(a, b, out);
         },
         reference::CausalConvolution},
        {"TapResponses", kPitchTaps * kSubframeSamples,
         [](const KernelSet& k, const double* a, const double* b, double* out) { k.tapResponses(a, b, out); },
         reference::TapResponses},
        {"LspSplitScores", kLspSplits * kLspSplitEntries,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             for (int split = 0; split < kLspSplits; ++split) {
                 k.lspSplitScores(split, a + 4 * split, b + 4 * split, out + kLspSplitEntries * split);
             }
         },
         [](const double* a, const double* b, double* out) {
             for (int split = 0; split < kLspSplits; ++split) {
                 reference::LspSplitScores(split, a + 4 * split, b + 4 * split,
                                           out + kLspSplitEntries * split);
             }
         }},
        {"LspGridValues", 2 * kLspGridPoints,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             k.lspGridValues(a, b, out);
         },
         reference::LspGridValues},
        {"CorrelateTaps", kPitchTableWidth,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             k.correlateTaps(a, b, out);
         },
         reference::CorrelateTaps},
        {"ScoreRows", kPitchGainRows,
         [](const KernelSet& k, const double* a, const double*, double* out) { k.scoreRows(a, out); },
         [](const double* a, const double*, double* out) { reference::ScoreRows(a, out); }},
        {"CorrelateLags", kOpenLoopMaxLag - kOpenLoopMinLag + 1,
         [](const KernelSet& k, const double* a, const double*, double* out) { k.correlateLags(a, out); },
         [](const double* a, const double*, double* out) { reference::CorrelateLags(a, out); }},
        {"BackwardFilter", kSubframeSamples,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             k.backwardFilter(a, b, out);
         },
         reference::BackwardFilter},
        {"Autocorrelate", kLpcOrder + 1,
         [](const KernelSet& k, const double* a, const double*, double* out) { k.autocorrelate(a, out); },
         [](const double* a, const double*, double* out) { reference::Autocorrelate(a, out); }},
        // The memories of the ringing follow the coefficients in a and b.
        {"ImpulseResponses", (kSubframes + 1) * kSubframeSamples,
         [](const KernelSet& k, const double* a, const double* b, double* out) {
             k.impulseResponses(a, b, a + kSubframes * kLpcOrder, b + 2 * kSubframes * kLpcOrder, out);
         },
         [](const double* a, const double* b, double* out) {
             reference::ImpulseResponses(a, b, a + kSubframes * kLpcOrder, b + 2 * kSubframes * kLpcOrder,
                                         out);
         }},
        {"HarmonicCorrelations", 4 * kHarmonicLags,
         [](const KernelSet& k, const double* a, const double*, double* out) {
             k.harmonicCorrelations(a, 15, out, out + kHarmonicLags);
             k.harmonicCorrelations(a, kOpenLoopMaxLag, out + 2 * kHarmonicLags, out + 3 * kHarmonicLags);
         },
         [](const double* a, const double*, double* out) {
             reference::HarmonicCorrelations(a, 15, out, out + kHarmonicLags);
             reference::HarmonicCorrelations(a, kOpenLoopMaxLag, out + 2 * kHarmonicLags,
                                             out + 3 * kHarmonicLags);
         }},
        {"RunningProducts", kRunningSlots,
         [](const KernelSet& k, const double* a, const double*, double* out) { k.runningProducts(a, out); },
         [](const double* a, const double*, double* out) { reference::RunningProducts(a, out); },
         // Slots past a distance's last term are unspecified.
         [](int slot) {
             const int distance = 2 * (slot % kRunningDistances);
             return distance < kSubframeSamples && slot / kRunningDistances <= kSubframeSamples - distance;
         }},
    };
    return cases;
}

TEST(Kernels, PortablePathIsAlwaysAvailableAndListedFirst) {
    const auto paths = AvailableKernelPaths();
    ASSERT_FALSE(paths.empty());
    EXPECT_EQ(paths[0], KernelPath::Portable);
    for (const KernelPath path : paths) {
        EXPECT_NE(KernelSetFor(path), nullptr) << PathName(path);
    }
}

// The paths are read from the C library's survey of the processor; the compiler's own check must
// agree, or a machine would silently lose its fast path (or crash on one it cannot run).
TEST(Kernels, TheWiderPathsAreListedExactlyWhenTheProcessorCanRunThem) {
#if defined(__x86_64__) || defined(__i386__)
    if (KernelSetFor(KernelPath::Avx2) == nullptr) {
        GTEST_SKIP() << "built without the wider kernels";
    }
    const auto paths = AvailableKernelPaths();
    const auto listed = [&](KernelPath path) {
        return std::find(paths.begin(), paths.end(), path) != paths.end();
    };
    __builtin_cpu_init();
    const bool avx2 = __builtin_cpu_supports("avx2") != 0;
    EXPECT_EQ(listed(KernelPath::Avx2), avx2);
    EXPECT_EQ(listed(KernelPath::Avx512), avx2 && __builtin_cpu_supports("avx512f") != 0);
    EXPECT_EQ(ActiveKernelPath(), paths.back()) << "the widest path the processor can run is the one in use";
#else
    GTEST_SKIP() << "no wider kernels on this processor family";
#endif
}

TEST(Kernels, ForcingAPathSwitchesTheKernelsInUseAndIsUndone) {
    const KernelPath before = ActiveKernelPath();
    for (const KernelPath path : AvailableKernelPaths()) {
        CForcedPath forced(path);
        ASSERT_TRUE(forced.Forced()) << PathName(path);
        EXPECT_EQ(ActiveKernelPath(), path);
        EXPECT_EQ(&Kernels(), KernelSetFor(path));
    }
    EXPECT_EQ(ActiveKernelPath(), before);
}

// A fast kernel that regroups, splits, reorders or fuses any sum gives different doubles on some of
// these inputs (the huge-and-tiny mix makes every rounding step visible); a lane mix-up or an
// off-by-one in a block's tail gives wrong values on all of them.
TEST(Kernels, EveryPathGivesTheReferenceDoublesOnRandomAndEdgeInputs) {
    for (const KernelPath path : AvailableKernelPaths()) {
        CForcedPath forced(path);
        ASSERT_TRUE(forced.Forced());
        for (const InputCase& input : InputCases()) {
            test::Rng rng(test::kDefaultSeed);
            const Input a = input.make(rng);
            const Input b = input.make(rng);
            for (const KernelCase& kernel : KernelCases()) {
                SCOPED_TRACE(PathName(path) + " / " + input.name + " / " + kernel.name);
                // The lag correlations fill slots past the last lag.
                std::vector<double> expected(kRunningSlots, 1.0);
                std::vector<double> actual(kRunningSlots, 2.0);
                kernel.reference(a.data() + kHistory, b.data() + kHistory, expected.data());
                kernel.run(Kernels(), a.data() + kHistory, b.data() + kHistory, actual.data());
                for (int i = 0; i < kernel.outputs; ++i) {
                    if (!kernel.specified(i)) {
                        continue;
                    }
                    ASSERT_EQ(std::bit_cast<std::uint64_t>(actual[i]),
                              std::bit_cast<std::uint64_t>(expected[i]))
                        << "output " << i << ": " << actual[i] << " instead of " << expected[i];
                }
            }
        }
    }
}

// The pulse search keeps the first best of the first `time` sets whose first three pulses pass: a
// path that tries the sets in another order, spends the budget otherwise or lets a later tie win
// picks other pulses or leaves another budget. The constant inputs are all ties.
TEST(Kernels, EveryPathSearchesThePulseSetsAsTheReferenceDoes) {
    constexpr int kCorrelations =
        kPulsesPerSubframe * kTrackPositions + kTrackPairs * kTrackPositions * kTrackPositions;
    static_assert(kPulseTargetLength + kCorrelations <= static_cast<int>(kInputLength));
    for (const KernelPath path : AvailableKernelPaths()) {
        CForcedPath forced(path);
        ASSERT_TRUE(forced.Forced());
        for (const InputCase& input : InputCases()) {
            test::Rng rng(test::kDefaultSeed);
            const Input d = input.make(rng);
            const Input rr = input.make(rng);
            double trackSign[kPulsesPerSubframe * kTrackPositions];
            for (int i = 0; i < kPulsesPerSubframe * kTrackPositions; ++i) {
                trackSign[i] = (rng() & 1) != 0 ? 1.0 : -1.0;
            }
            const double huge = std::numeric_limits<double>::max();
            for (const double theta : {-huge, 0.0, d[1] + d[3] + d[5], huge}) {
                for (const int budget : {0, 1, 37, 120, 600}) {
                    SCOPED_TRACE(PathName(path) + " / " + input.name + " / theta " + std::to_string(theta) +
                                 " / budget " + std::to_string(budget));
                    int expected[kPulsesPerSubframe];
                    int actual[kPulsesPerSubframe];
                    const int left =
                        reference::SearchPulseSets(d.data(), rr.data(), trackSign, theta, budget, expected);
                    ASSERT_EQ(
                        Kernels().searchPulseSets(d.data(), rr.data(), trackSign, theta, budget, actual),
                        left);
                    EXPECT_TRUE(std::equal(actual, actual + kPulsesPerSubframe, expected));
                }
            }
        }
    }
}

// End to end: a path whose kernels are wired to the wrong slot, or that differs from the others
// only in a case the kernel inputs above miss, codes speech into other bytes.
TEST(Kernels, EveryPathCodesSpeechIntoTheConformanceBytes) {
    const auto dir = test::DataDir() / "vectors" / "encoder";
    const std::vector<std::int16_t> speech = test::ReadPcm16(dir / "s08_en_m_espeak_enus.pcm");
    const std::vector<std::uint8_t> expected = test::ReadBytes(dir / "s08_en_m_espeak_enus.prm");
    const std::size_t frames = speech.size() / kFrameSamples;
    ASSERT_GT(frames, 0u);
    ASSERT_EQ(expected.size(), frames * kPackedFrameBytes);
    for (const KernelPath path : AvailableKernelPaths()) {
        CForcedPath forced(path);
        ASSERT_TRUE(forced.Forced());
        CSpeechCodec codec;
        std::vector<std::uint8_t> coded(expected.size());
        for (std::size_t f = 0; f < frames; ++f) {
            codec.EncodeFrame(ConstSampleFrame(speech.data() + f * kFrameSamples, kFrameSamples),
                              PackedFrameView(coded.data() + f * kPackedFrameBytes, kPackedFrameBytes));
        }
        EXPECT_EQ(coded, expected) << PathName(path);
    }
}

} // namespace
} // namespace velmar
