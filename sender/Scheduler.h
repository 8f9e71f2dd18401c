#pragma once

#include "SenderTable.h"

#include <clock/BlockClockFile.h>

#include <cstdint>
#include <deque>
#include <vector>

namespace keyferry
{

// Plays events at times on a timeline into one receiver, each on its exact sample.
//
// It asks the receiver for timed delivery (clocks.dat) and writes each message with the sample,
// on the receiver's own running count, at which it must play; the receiver holds it in the ring
// until the block that covers that sample and puts it there. The timeline is fixed to that sample
// count, not to the wall clock: a host whose audio clock runs fast or slow, or that changes its
// block length from block to block, still gets every event on its exact sample. The wall clock
// only decides how far ahead to write. Time 0 of the timeline plays 'latency' after start().
//
// A message written after its sample has passed comes out at the start of the next block and is
// counted late (lateEvents). Where the receiver publishes no clock, start() says so and the
// scheduler sends each event as it falls due, at the start of the receiver's next block.
//
// Following the host's transport, the timeline is in quarter notes on the host's own timeline
// (its play head's position); see startFollowing().
//
// One thread; the link's one writer.
class Scheduler
{
public:
    enum class Mode
    {
        idle,
        timed,      // each event on its sample
        asDue,      // no clock: each event at the start of the block after it falls due
        following   // timed, in quarter notes on the host's timeline
    };

    // Nanoseconds on CLOCK_MONOTONIC; tests give a clock of their own.
    using WallClock = std::uint64_t (*)();

    Scheduler (ReceiverLink& link, BlockClockFile& clocks, double latencySeconds, WallClock wallClock = monotonicNanos);

    // Asks the receiver to hold this link's messages until their time, from its next block on.
    // start() does this itself; call it earlier to have the answer ready.
    void askForTimedDelivery();

    // Asks for timed delivery and waits up to 'patienceSeconds' for the receiver's yes; time 0
    // of the timeline is then 'latency' from now on the receiver's sample count. Falls back to
    // asDue where no clock answers. Returns ok, or the link's failure.
    SendResult start (double patienceSeconds = 1.0);

    // Sends each event as it falls due on the wall clock, at the start of the receiver's next
    // block, as a receiver without a clock gets them; time 0 is 'latency' from now.
    void startAsDue();

    // As start(), then waits (up to 'patienceSeconds') for the host's transport to play, and
    // puts timeline beat 0 on the first bar line at least 'latency' ahead. noClock where the
    // receiver publishes no clock or the host gives no tempo or position.
    SendResult startFollowing (double patienceSeconds);

    Mode mode() const noexcept { return currentMode; }

    // Queues an event at 'time' on the timeline (seconds, or quarter notes when following).
    // Events are kept in time order; equal times keep the order they were added in.
    SendResult add (double time, const std::uint8_t* data, std::size_t size);

    // Writes what is due within the lookahead (or, as due, what has fallen due). ok, ringFull
    // (call again later), transportStopped (following: the host stopped; what waits in the ring
    // has been cancelled with a reset request), or the link's failure.
    SendResult pump();

    bool finished() const noexcept { return queue.empty(); }
    std::size_t pending() const noexcept { return queue.size(); }
    std::size_t written() const noexcept { return writtenEvents; }

    // Events that came out after their time: the receiver's count (timed), or events sent more
    // than a block's worth after they fell due (as due).
    std::uint64_t lateEvents() const;

    // The receiver sample that time 'time' of the timeline plays on (timed and following).
    std::int64_t sampleAt (double time) const;

    // Seconds of wall clock until the next event must be written; 0 when one is waiting.
    double secondsUntilNextWrite() const;

    // How far ahead of its time an event is written.
    static constexpr double lookaheadSeconds = 0.25;

private:
    struct Event
    {
        double time;
        std::vector<std::uint8_t> bytes;
    };

    bool readClock (BlockClock& clock) const;
    void anchorTo (const BlockClock& clock);
    void followTempo (const BlockClock& clock);
    double receiverSampleNow (const BlockClock& clock) const;
    SendResult pumpTimed();
    SendResult pumpAsDue();

    ReceiverLink& link;
    BlockClockFile& clocks;
    double latency;
    WallClock now;
    Mode currentMode = Mode::idle;
    std::deque<Event> queue;
    std::size_t writtenEvents = 0;

    double sampleRate = 0.0;
    double anchorSample = 0.0;         // timed: receiver sample of time 0
    std::uint64_t startNanos = 0;      // as due: wall clock of time 0
    std::uint64_t lateAtStart = 0;
    std::uint64_t lateAsDue = 0;
    double beatOrigin = 0.0;           // following: host quarter note of timeline beat 0

    // Following: where the host's timeline was at one block, and its tempo then.
    struct BeatAnchor
    {
        double sample = 0.0;
        double quarterNote = 0.0;
        double samplesPerQuarterNote = 1.0;
    };
    BeatAnchor beatAnchor;
};

} // namespace keyferry
