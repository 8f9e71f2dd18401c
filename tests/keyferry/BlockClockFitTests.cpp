// Fitting a receiver's sample clock to the block clocks it publishes, against callbacks that
// jitter and a clock that drifts.

#include <BlockClockFit.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{
struct FitCase
{
    const char* name;
    double drift;
    int blockSize;
    double jitterMs; // each stamp off by up to this, either way
};

void PrintTo (const FitCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class ClockFit : public ::testing::TestWithParam<FitCase>
{
};
} // namespace

TEST_P (ClockFit, FindsWhereTheSamplesStandWithinATenthOfAMillisecond)
{
    const auto& param = GetParam();
    const double nanosPerSample = 1.0e9 / (48000.0 * (1.0 + param.drift));
    const double start = 3.0e12;
    std::mt19937 random (11);
    std::uniform_real_distribution<double> jitter (-param.jitterMs * 1.0e6, param.jitterMs * 1.0e6);

    BlockClockFit fit;
    double worstMs = 0.0;
    for (std::uint64_t sample = 0; sample < 48000 * 20; sample += static_cast<std::uint64_t> (param.blockSize))
    {
        fit.add (sample, static_cast<std::uint64_t> (start + static_cast<double> (sample) * nanosPerSample + jitter (random)));

        // From 4 s on, ask where the samples will stand 50 ms ahead.
        if (sample > 48000 * 4)
        {
            const auto probe = static_cast<double> (sample) + 0.05 * 48000.0;
            const auto estimate = fit.sampleAt (static_cast<std::uint64_t> (start + probe * nanosPerSample));
            ASSERT_TRUE (estimate.has_value());
            worstMs = std::max (worstMs, std::abs (*estimate - probe) / 48.0);
        }
    }
    EXPECT_LT (worstMs, 0.1);
}

INSTANTIATE_TEST_SUITE_P (
    Hosts,
    ClockFit,
    ::testing::Values (FitCase { "Steady", 0.0, 512, 0.0 },
                       FitCase { "ClockFastJitter100us", 0.005, 512, 0.1 },
                       FitCase { "ClockSlowJitter300us", -0.005, 256, 0.3 },
                       FitCase { "LargeBlocksJitter300us", 0.003, 2048, 0.3 }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });

TEST (BlockClockFit, StartsAgainAfterAGapOrANewClaim)
{
    BlockClockFit fit;
    for (std::uint64_t block = 0; block < 100; ++block)
        fit.add (block * 480, 1'000'000'000 + block * 10'000'000);
    ASSERT_TRUE (fit.sampleAt (2'000'000'000).has_value());

    fit.add (0, 5'000'000'000); // a new claim counts from 0
    EXPECT_FALSE (fit.sampleAt (5'000'000'000).has_value()) << "too few blocks of the new claim";
}
