#include "Scheduler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

namespace keyferry
{
namespace
{
constexpr double nanosPerSecond = 1.0e9;
constexpr std::size_t maxBatch = 64;

// As due, an event sent this much after it fell due counts as late.
constexpr std::uint64_t asDueLateNanos = 10'000'000;

void wordsOfId (const std::string& id, std::uint64_t (&words)[ClaimIdWords])
{
    char field[IdFieldSize] {};
    std::memcpy (field, id.data(), std::min (id.size(), sizeof (field) - 1));
    claimIdWords (field, words);
}

void pause() { std::this_thread::sleep_for (std::chrono::milliseconds (1)); }
} // namespace

Scheduler::Scheduler (ReceiverLink& linkToUse, BlockClockFile& clockFile, double latencySeconds, WallClock wallClock)
    : link (linkToUse), clocks (clockFile), latency (std::max (0.0, latencySeconds)), now (wallClock)
{
}

bool Scheduler::readClock (BlockClock& clock) const
{
    const auto slot = link.slotIndex();
    if (! clocks.isOpen() || slot < 0 || slot >= NumSlots || ! read (clocks.shared()->clocks[slot], clock))
        return false;

    std::uint64_t claim[ClaimIdWords];
    wordsOfId (link.receiverId(), claim);
    return std::equal (std::begin (claim), std::end (claim), std::begin (clock.claimId)) && clock.hasBlock();
}

double Scheduler::receiverSampleNow (const BlockClock& clock) const
{
    const auto elapsed = static_cast<double> (static_cast<std::int64_t> (now() - clock.blockStartNanos)) / nanosPerSecond;
    return static_cast<double> (clock.sampleCount) + std::max (0.0, elapsed) * clock.sampleRate;
}

void Scheduler::askForTimedDelivery()
{
    if (! clocks.isOpen() || link.slotIndex() < 0 || link.slotIndex() >= NumSlots)
        return;

    std::uint64_t claim[ClaimIdWords];
    wordsOfId (link.receiverId(), claim);
    requestTimedDelivery (clocks.shared()->timed[link.slotIndex()], claim);
}

SendResult Scheduler::start (double patienceSeconds)
{
    startAsDue();

    if (const auto state = link.claimState(); state != SendResult::ok)
        return state;

    if (! clocks.isOpen())
        return SendResult::ok;

    askForTimedDelivery();

    // The receiver says yes in the clock of its next block.
    const auto giveUp = now() + static_cast<std::uint64_t> (patienceSeconds * nanosPerSecond);
    BlockClock clock;
    while (! (readClock (clock) && clock.has (clockTimedDelivery)))
    {
        if (now() >= giveUp || patienceSeconds <= 0.0)
        {
            const std::uint64_t none[ClaimIdWords] {};
            requestTimedDelivery (clocks.shared()->timed[link.slotIndex()], none);
            return SendResult::ok; // as due
        }
        pause();
    }

    currentMode = Mode::timed;
    sampleRate = clock.sampleRate;
    anchorSample = std::ceil (receiverSampleNow (clock) + latency * sampleRate);
    lateAtStart = clock.lateMessages;
    return SendResult::ok;
}

void Scheduler::startAsDue()
{
    currentMode = Mode::asDue;
    startNanos = now() + static_cast<std::uint64_t> (latency * nanosPerSecond);
}

SendResult Scheduler::startFollowing (double patienceSeconds)
{
    if (const auto started = start (patienceSeconds); started != SendResult::ok)
        return started;

    if (currentMode != Mode::timed)
        return SendResult::noTransport;

    const auto giveUp = now() + static_cast<std::uint64_t> (patienceSeconds * nanosPerSecond);
    BlockClock clock;
    for (;;)
    {
        if (! readClock (clock))
            return SendResult::noTransport;

        const auto known = clock.has (clockTempoKnown) && clock.has (clockPpqKnown) && clock.tempo > 0.0;
        if (known && clock.has (clockPlaying))
            break;

        if (now() >= giveUp)
            return SendResult::noTransport;
        pause();
    }

    // The first bar line at least 'latency' ahead of where the host's timeline is now.
    const auto quarterNotesPerSample = clock.tempo / 60.0 / clock.sampleRate;
    const auto ppqNow = clock.ppqPosition + (receiverSampleNow (clock) - static_cast<double> (clock.sampleCount)) * quarterNotesPerSample;
    const auto numerator = clock.has (clockTimeSignatureKnown) ? (clock.timeSignature & 0xffffu) : 4u;
    const auto denominator = clock.has (clockTimeSignatureKnown) ? (clock.timeSignature >> 16) : 4u;
    const auto barLength = denominator > 0 ? 4.0 * numerator / denominator : 4.0;
    const auto earliest = ppqNow + latency * clock.tempo / 60.0;
    beatOrigin = std::ceil (earliest / barLength - 1.0e-9) * barLength;
    anchorTo (clock);

    currentMode = Mode::following;
    return SendResult::ok;
}

void Scheduler::anchorTo (const BlockClock& clock)
{
    beatAnchor = { static_cast<double> (clock.sampleCount), clock.ppqPosition, 60.0 / clock.tempo * clock.sampleRate };
}

void Scheduler::followTempo (const BlockClock& clock)
{
    if (! clock.has (clockTempoKnown) || ! clock.has (clockPpqKnown) || clock.tempo <= 0.0)
        return;

    // One anchor for as long as the tempo holds and the host's position goes where it predicts:
    // a position the host rounds differently in every block must not move the beats by a sample.
    const auto samplesPerQuarterNote = 60.0 / clock.tempo * clock.sampleRate;
    const auto predicted = beatAnchor.sample + (clock.ppqPosition - beatAnchor.quarterNote) * beatAnchor.samplesPerQuarterNote;
    const auto offBy = std::abs (predicted - static_cast<double> (clock.sampleCount));

    if (samplesPerQuarterNote != beatAnchor.samplesPerQuarterNote || offBy > 2.0)
        anchorTo (clock);
}

SendResult Scheduler::add (double time, const std::uint8_t* data, std::size_t size)
{
    if (const auto valid = RingWriter::validate ({ 0, data, size }); valid != SendResult::ok)
        return valid;

    const auto at = std::upper_bound (queue.begin(), queue.end(), time, [] (double t, const Event& event) { return t < event.time; });
    queue.insert (at, Event { time, std::vector<std::uint8_t> (data, data + size) });
    return SendResult::ok;
}

std::int64_t Scheduler::sampleAt (double time) const
{
    if (currentMode == Mode::following)
        return std::llround (beatAnchor.sample + (beatOrigin + time - beatAnchor.quarterNote) * beatAnchor.samplesPerQuarterNote);

    return static_cast<std::int64_t> (anchorSample) + std::llround (time * sampleRate);
}

SendResult Scheduler::pump()
{
    if (currentMode == Mode::asDue)
        return pumpAsDue();
    if (currentMode == Mode::idle)
        return SendResult::ok;
    return pumpTimed();
}

SendResult Scheduler::pumpTimed()
{
    BlockClock clock;
    if (! readClock (clock))
        return link.isCurrent() ? SendResult::ok : SendResult::receiverChanged;

    if (currentMode == Mode::following)
        followTempo (clock);

    if (currentMode == Mode::following && ! clock.has (clockPlaying))
    {
        queue.clear();
        link.requestReset(); // cancels what waits in the ring, silences what sounds
        return SendResult::transportStopped;
    }

    const auto horizon = receiverSampleNow (clock) + lookaheadSeconds * clock.sampleRate;

    while (! queue.empty())
    {
        OutgoingMessage batch[maxBatch];
        std::size_t count = 0;

        for (auto it = queue.begin(); it != queue.end() && count < maxBatch; ++it, ++count)
        {
            const auto sample = sampleAt (it->time);
            if (static_cast<double> (sample) > horizon)
                break;
            // The low 32 bits of the receiver's count: it compares in wrap-around arithmetic.
            batch[count] = { static_cast<std::int32_t> (static_cast<std::uint32_t> (sample)), it->bytes.data(), it->bytes.size() };
        }

        if (count == 0)
            return SendResult::ok;

        std::size_t accepted = 0;
        const auto result = link.send (batch, count, accepted);
        queue.erase (queue.begin(), queue.begin() + static_cast<std::ptrdiff_t> (accepted));
        writtenEvents += accepted;

        if (result != SendResult::ok)
            return result;
    }

    return SendResult::ok;
}

SendResult Scheduler::pumpAsDue()
{
    const auto current = now();

    while (! queue.empty())
    {
        const auto due = startNanos + static_cast<std::uint64_t> (std::max (0.0, queue.front().time) * nanosPerSecond);
        if (current < due)
            return SendResult::ok;

        const auto& event = queue.front();
        if (const auto result = link.send ({ 0, event.bytes.data(), event.bytes.size() }); result != SendResult::ok)
            return result;

        lateAsDue += current - due > asDueLateNanos ? 1 : 0;
        queue.pop_front();
        ++writtenEvents;
    }

    return SendResult::ok;
}

std::uint64_t Scheduler::lateEvents() const
{
    if (currentMode == Mode::asDue)
        return lateAsDue;

    BlockClock clock;
    return readClock (clock) ? clock.lateMessages - lateAtStart : 0;
}

double Scheduler::secondsUntilNextWrite() const
{
    if (queue.empty())
        return lookaheadSeconds;

    if (currentMode == Mode::asDue)
    {
        const auto due = startNanos + static_cast<std::uint64_t> (std::max (0.0, queue.front().time) * nanosPerSecond);
        const auto current = now();
        return due > current ? static_cast<double> (due - current) / nanosPerSecond : 0.0;
    }

    BlockClock clock;
    if (! readClock (clock))
        return 0.001;

    const auto ahead = static_cast<double> (sampleAt (queue.front().time)) - receiverSampleNow (clock) - lookaheadSeconds * clock.sampleRate;
    return std::max (0.0, ahead / clock.sampleRate);
}

} // namespace keyferry
