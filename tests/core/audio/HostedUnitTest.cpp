#include "audio/HostedUnit.h"

#include "library/AudioFileError.h"
#include "support/FakeTimePitch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

using namespace zelvo;

namespace {

constexpr std::uint32_t kTestType = unitCode("aufx");
constexpr std::uint32_t kTestSubtype = unitCode("zzgn");

// Doubles its input; records the size of every render; fails where told to.
class ScriptedUnit final : public HostedUnitComponent {
public:
    struct Script {
        int failStep = -1; // 0 input format, 1 output format, 2 max frames, 3 callback, 4 initialize
        UnitStatus failStatus = -50;
        int failRenderCall = -1;
        std::vector<int>* renders = nullptr;
    };
    explicit ScriptedUnit(Script s) : s_(s) {}

    UnitStatus setStreamFormat(Scope scope, double, int) override
    {
        return step(scope == Scope::input ? 0 : 1);
    }
    UnitStatus setMaximumFramesPerSlice(int) override { return step(2); }
    UnitStatus setInputCallback(UnitInputCallback cb, void* ctx) override
    {
        cb_ = cb;
        ctx_ = ctx;
        return step(3);
    }
    UnitStatus initialize() override { return step(4); }
    UnitStatus render(int frames, float* left, float* right) override
    {
        if (s_.renders)
            s_.renders->push_back(frames);
        if (calls_++ == s_.failRenderCall) {
            left[0] = right[0] = 12345.0f; // scribbles, then fails
            return -1;
        }
        cb_(ctx_, frames, left, right);
        for (int i = 0; i < frames; ++i) {
            left[i] *= 2.0f;
            right[i] *= 2.0f;
        }
        return kUnitNoError;
    }
    UnitStatus setParameter(std::uint32_t, float) override { return kUnitNoError; }
    UnitStatus getParameter(std::uint32_t, float&) const override { return kUnitInvalidParameter; }
    UnitStatus reset() override { return kUnitNoError; }
    UnitStatus latencySeconds(double&) const override { return kUnitInvalidProperty; }

private:
    UnitStatus step(int n) const { return n == s_.failStep ? s_.failStatus : kUnitNoError; }
    Script s_;
    UnitInputCallback cb_ = nullptr;
    void* ctx_ = nullptr;
    int calls_ = 0;
};

HostedUnitRegistry::Override scripted(ScriptedUnit::Script s)
{
    return HostedUnitRegistry::Override(kTestType, kTestSubtype, [s] { return std::make_unique<ScriptedUnit>(s); });
}

std::string constructionError(std::uint32_t type, std::uint32_t subtype)
{
    try {
        HostedUnit unit(type, subtype, 48000.0, 512);
    } catch (const std::exception& e) {
        return e.what();
    }
    return {};
}

struct Ramp final : HostedUnitSource {
    float next = 1.0f;
    void provide(int frames, float* left, float* right) override
    {
        for (int i = 0; i < frames; ++i) {
            left[i] = next;
            right[i] = -next;
            next += 1.0f;
        }
    }
};

} // namespace

TEST(HostedUnit, ConstructionFailuresNameTheStepAndStatus)
{
    // An unknown component: the subtype as an unsigned decimal number, status −1.
    EXPECT_EQ(constructionError(kTestType, unitCode("nutq")), "find unit 1853191281 failed (-1)");
    {
        test::NoTimePitch hidden;
        EXPECT_EQ(constructionError(units::kFormatConverter, units::kTimePitch), "find unit 1853191280 failed (-1)");
    }
    const char* steps[] = {"unit input format", "unit output format", nullptr, "unit input callback", "initialize unit"};
    for (int step = 0; step < 5; ++step) {
        auto o = scripted({.failStep = step, .failStatus = -10868});
        const std::string error = constructionError(kTestType, kTestSubtype);
        if (!steps[step]) {
            EXPECT_EQ(error, "") << "a refused maximum slice is not a failure";
            continue;
        }
        EXPECT_EQ(error, std::string(steps[step]) + " failed (-10868)");
    }
    {
        HostedUnitRegistry::Override nothing(kTestType, kTestSubtype, [] { return std::unique_ptr<HostedUnitComponent>(); });
        EXPECT_EQ(constructionError(kTestType, kTestSubtype), "instantiate unit failed (-1)");
    }
    try {
        HostedUnit unit(kTestType, unitCode("nutq"), 48000.0, 512);
        ADD_FAILURE() << "no such unit";
    } catch (const AudioFileError& e) {
        EXPECT_EQ(e.kind(), AudioFileError::Kind::os);
        EXPECT_EQ(e.step(), "find unit 1853191281");
        EXPECT_EQ(e.status(), -1);
    }
    // Without the override the subtype is unknown again.
    EXPECT_EQ(constructionError(kTestType, kTestSubtype), "find unit " + std::to_string(kTestSubtype) + " failed (-1)");
}

TEST(HostedUnit, ProcessRunsInSlicesOfMaxFramesAndAdvancesTheTimeStamp)
{
    std::vector<int> renders;
    auto o = scripted({.renders = &renders});
    HostedUnit unit(kTestType, kTestSubtype, 48000.0, 4096);
    std::vector<float> left(10000), right(10000);
    for (int i = 0; i < 10000; ++i) {
        left[std::size_t(i)] = float(i);
        right[std::size_t(i)] = -float(i);
    }
    unit.process(10000, left.data(), right.data());
    EXPECT_EQ(renders, (std::vector<int>{4096, 4096, 1808}));
    EXPECT_EQ(unit.sampleTime(), 10000.0);
    for (int i : {0, 1, 4095, 4096, 8191, 8192, 9999}) {
        ASSERT_EQ(left[std::size_t(i)], 2.0f * float(i)) << i;
        ASSERT_EQ(right[std::size_t(i)], -2.0f * float(i)) << i;
    }
}

TEST(HostedUnit, AFailedProcessSliceKeepsItsDryInput)
{
    auto o = scripted({.failRenderCall = 1});
    HostedUnit unit(kTestType, kTestSubtype, 48000.0, 100);
    std::vector<float> left(250, 1.0f), right(250, 1.0f);
    unit.process(250, left.data(), right.data());
    EXPECT_EQ(left[0], 2.0f);
    EXPECT_EQ(left[100], 1.0f) << "second slice failed: dry";
    EXPECT_EQ(left[199], 1.0f);
    EXPECT_EQ(left[200], 2.0f);
    EXPECT_EQ(unit.sampleTime(), 250.0);
}

TEST(HostedUnit, GeneratorPullsFromItsSourceOrRendersSilence)
{
    auto o = scripted({});
    HostedUnit unit(kTestType, kTestSubtype, 48000.0, 64);
    std::vector<float> left(100, 7.0f), right(100, 7.0f);
    EXPECT_EQ(unit.render(100, left.data(), right.data()), kUnitNoError);
    for (float v : left)
        ASSERT_EQ(v, 0.0f);

    Ramp ramp;
    unit.setSource(&ramp);
    unit.render(100, left.data(), right.data());
    EXPECT_EQ(left[0], 2.0f);
    EXPECT_EQ(left[99], 200.0f) << "a render longer than maxFrames continues the same stream";
    EXPECT_EQ(right[99], -200.0f);
    EXPECT_EQ(unit.sampleTime(), 200.0);
    EXPECT_EQ(unit.latencySeconds(), 0.0) << "an unreadable latency reads as 0";
    EXPECT_TRUE(std::isnan(unit.get(3)));
}

TEST(HostedUnit, MasterEffectsTakeTheirParameters)
{
    HostedUnit limiter(units::kEffect, units::kPeakLimiter, 48000.0, 4096);
    limiter.set(units::kLimiterAttack, 0.002f);
    limiter.set(units::kLimiterDecay, 0.06f);
    limiter.set(units::kLimiterPreGain, 0.0f);
    EXPECT_FLOAT_EQ(limiter.get(units::kLimiterAttack), 0.002f);
    EXPECT_FLOAT_EQ(limiter.get(units::kLimiterDecay), 0.06f);
    EXPECT_NEAR(limiter.latencySeconds(), 0.002, 1.0 / 48000.0);

    HostedUnit reverb(units::kEffect, units::kReverb, 48000.0, 4096);
    reverb.set(units::kReverbDryWet, 100.0f);
    reverb.set(units::kReverbDecayAt0Hz, 4.5f);
    reverb.set(units::kReverbDecayAtNyquist, 2.2f);
    EXPECT_FLOAT_EQ(reverb.get(units::kReverbDecayAt0Hz), 4.5f);
    EXPECT_NE(reverb.set(99, 1.0f), kUnitNoError);

    // In place: a loud burst through the limiter stays under the ceiling.
    std::vector<float> left(9000), right(9000);
    for (int i = 0; i < 9000; ++i)
        left[std::size_t(i)] = right[std::size_t(i)] = 3.0f * std::sin(float(i) * 0.05f);
    limiter.process(9000, left.data(), right.data());
    for (int i = 0; i < 9000; ++i)
        ASSERT_LE(std::fabs(left[std::size_t(i)]), 1.0f);
}
