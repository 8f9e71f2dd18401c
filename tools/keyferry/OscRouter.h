#pragma once

#include "BlockClockFit.h"

#include <clock/BlockClockFile.h>
#include <sender/SenderTable.h>

#include <juce_osc/juce_osc.h>

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

// Turns OSC messages and bundles into MIDI in receivers. handle() runs on the OSC receiver's
// thread and only queues; pump(), on one other thread, writes into the rings. A receiver holding
// messages until their sample reads its ring in order, so messages go in in time order: each
// waits in the queue until it is due within a short lookahead, and one that arrives later but
// must play sooner is not stuck behind it for longer than that.
//
// Address space: /keyferry/N/KIND for receiver N (1-9), /keyferry/KIND for the receiver given
// on the command line. KIND and its arguments (int32, or float32 rounded to the nearest whole
// number):
//     note_on CHANNEL KEY VELOCITY    note_off CHANNEL KEY [VELOCITY]    cc CHANNEL CONTROLLER VALUE
//     program CHANNEL PROGRAM         pitch_bend CHANNEL VALUE (-8192 to 8191)
//     raw BLOB (one complete MIDI message; an OSC MIDI-message argument arrives as one)    panic
// Channels are 1-16. A message outside a bundle, or in a bundle tagged "immediately" or with a
// moment already past, plays as soon as it can (past ones count as late); a bundle tagged with a
// moment ahead plays on the receiver's sample for that moment, through the block clock the
// receiver publishes. A packet can do nothing but send MIDI to receivers.
class OscRouter
{
public:
    // Why something was dropped.
    enum Drop
    {
        unknownAddress,
        badArguments,
        notHeld,     // no receiver holds that number
        ringFull,    // unused as a drop: a full ring holds the queue back (see waits())
        malformed,   // not OSC at all (counted by the command's error handler)
        flooded,     // more waiting than the queue holds
        numDrops
    };

    OscRouter (keyferry::SenderTable& table, keyferry::BlockClockFile& clocks, int defaultReceiver);

    // The OSC receiver's thread.
    void handle (const juce::OSCMessage& message) { route (message, std::nullopt); }
    void handle (const juce::OSCBundle& bundle) { route (bundle, 0); }

    // The writing thread: writes what is due into the rings.
    void pump();

    // How far ahead of its moment a message goes into the ring.
    static constexpr std::uint64_t lookaheadNanos = 20'000'000;

    void countMalformed() noexcept { drops[malformed].fetch_add (1); }

    // Any thread.
    long sent() const noexcept { return sentMessages.load(); }
    long late() const noexcept { return lateMessages.load(); }
    long waits() const noexcept { return ringFullWaits.load(); } // times a full ring held the queue back
    long dropped (Drop reason) const noexcept { return drops[reason].load(); }
    juce::String status() const;

    // The receivers this router sent to, for silencing them at the end (1-9).
    std::vector<int> receiversPlayed() const;

    // Bundles nested deeper than this are dropped.
    static constexpr int maxNesting = 8;

    // Messages waiting for their moment at most; past that a flood is dropped, not hoarded.
    static constexpr std::size_t maxQueued = 65536;

private:
    // A message waiting for its moment (the monotonic clock), in arrival order among equals.
    struct Pending
    {
        std::uint64_t moment;
        std::uint64_t sequence;
        int receiver;
        bool panic;
        bool tagged;   // a moment of its own, rather than "as soon as possible"
        std::vector<std::uint8_t> bytes;
    };

    struct Target
    {
        std::optional<keyferry::ReceiverLink> link;
        bool timed = false;      // the receiver holds messages until their sample for this claim
        bool played = false;
        BlockClockFit fit;       // its samples on the monotonic clock
    };

    void route (const juce::OSCBundle& bundle, int depth);
    void route (const juce::OSCMessage& message, std::optional<juce::uint64> timeTag);
    Target* targetFor (int receiver);
    std::optional<std::int64_t> sampleFor (Target& target, std::uint64_t moment);
    void enqueue (int receiver, std::vector<std::uint8_t> bytes, bool panic, std::optional<juce::uint64> timeTag);
    bool deliver (const Pending& pending); // false: the ring is full, try again later

    keyferry::SenderTable& table;
    keyferry::BlockClockFile& clocks;
    int defaultReceiver;
    std::array<Target, keyferry::NumSlots> targets; // the writing thread's
    std::mutex queueLock;
    std::vector<Pending> queue;                      // a heap on (moment, sequence)
    std::uint64_t arrivals = 0;
    std::atomic<long> sentMessages { 0 }, lateMessages { 0 }, ringFullWaits { 0 };
    std::atomic<long> drops[numDrops] {};
};
