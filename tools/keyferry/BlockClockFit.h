#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>

// Where a receiver's samples stand on the monotonic clock, fitted by least squares to the block
// clocks it published over the last few seconds. Each block's start is stamped by the host's
// audio callback, which jitters; over a few hundred blocks the jitter averages out, and the fit's
// slope is the host's true sample rate against this machine's clock, drift included. A stamp
// that goes back, or a gap (the host stopped, the claim changed), starts the fit afresh.
class BlockClockFit
{
public:
    // One block: its first sample on the receiver's count and when it began (ns).
    void add (std::uint64_t sampleCount, std::uint64_t blockStartNanos);

    // The receiver's sample (fractional) at a moment; none until enough blocks are in.
    std::optional<double> sampleAt (std::uint64_t nanos) const;

    void clear() { points.clear(); }

    static constexpr std::size_t window = 512;   // blocks kept
    static constexpr std::size_t minimum = 16;   // blocks before the fit is trusted
    static constexpr std::uint64_t gapNanos = 200'000'000;

private:
    std::deque<std::pair<std::uint64_t, std::uint64_t>> points; // (sample, nanos)
};
