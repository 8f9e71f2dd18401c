#include "BlockClockFit.h"

void BlockClockFit::add (std::uint64_t sampleCount, std::uint64_t blockStartNanos)
{
    if (! points.empty())
    {
        const auto& [lastSample, lastNanos] = points.back();
        if (sampleCount == lastSample)
            return;
        if (sampleCount < lastSample || blockStartNanos < lastNanos || blockStartNanos - lastNanos > gapNanos)
            points.clear();
    }

    points.emplace_back (sampleCount, blockStartNanos);
    if (points.size() > window)
        points.pop_front();
}

std::optional<double> BlockClockFit::sampleAt (std::uint64_t nanos) const
{
    if (points.size() < minimum)
        return std::nullopt;

    // Relative to the first point, in doubles small enough to keep their precision.
    const auto [sample0, nanos0] = points.front();
    double meanT = 0.0, meanS = 0.0;
    for (const auto& [sample, time] : points)
    {
        meanT += static_cast<double> (time - nanos0);
        meanS += static_cast<double> (sample - sample0);
    }
    const auto n = static_cast<double> (points.size());
    meanT /= n;
    meanS /= n;

    double covariance = 0.0, variance = 0.0;
    for (const auto& [sample, time] : points)
    {
        const auto dt = static_cast<double> (time - nanos0) - meanT;
        covariance += dt * (static_cast<double> (sample - sample0) - meanS);
        variance += dt * dt;
    }
    if (variance <= 0.0)
        return std::nullopt;

    const auto samplesPerNano = covariance / variance;
    const auto at = static_cast<double> (static_cast<std::int64_t> (nanos - nanos0));
    return static_cast<double> (sample0) + meanS + (at - meanT) * samplesPerNano;
}
