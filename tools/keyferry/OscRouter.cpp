#include "OscRouter.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace
{
// How long a new claim may take to say yes to timed delivery before it is fed as due.
constexpr auto timedPatience = std::chrono::milliseconds (200);

// Seconds between the OSC time tag's epoch (1900) and the Unix epoch.
constexpr double ntpToUnixSeconds = 2208988800.0;

double nowUnixSeconds()
{
    return std::chrono::duration<double> (std::chrono::system_clock::now().time_since_epoch()).count();
}

// The moment a time tag names, on the monotonic clock.
std::uint64_t monotonicAt (juce::uint64 timeTag)
{
    const auto tagSeconds = static_cast<double> (timeTag >> 32) + static_cast<double> (timeTag & 0xffffffffu) / 4294967296.0;
    const auto ahead = tagSeconds - ntpToUnixSeconds - nowUnixSeconds();
    const auto now = static_cast<double> (keyferry::monotonicNanos());
    return static_cast<std::uint64_t> (std::max (0.0, now + ahead * 1.0e9));
}

// Argument 'index' as a whole number in [low, high]: an int32, or a float32 rounded.
bool numberAt (const juce::OSCMessage& message, int index, int low, int high, int& value)
{
    if (index >= message.size())
        return false;

    const auto& argument = message[index];
    double number = 0.0;
    if (argument.isInt32())
        number = argument.getInt32();
    else if (argument.isFloat32() && std::isfinite (argument.getFloat32()))
        number = std::round (argument.getFloat32());
    else
        return false;

    if (number < low || number > high)
        return false;
    value = static_cast<int> (number);
    return true;
}

// The MIDI bytes of a message kind and its arguments; empty when they do not fit.
std::vector<std::uint8_t> midiFor (const juce::String& kind, const juce::OSCMessage& message)
{
    int channel = 0, a = 0, b = 0;
    const auto status = [&] (int high) { return static_cast<std::uint8_t> (high | (channel - 1)); };
    const auto byte = [] (int value) { return static_cast<std::uint8_t> (value); };
    const auto channelOk = numberAt (message, 0, 1, 16, channel);

    if (kind == "note_on" && message.size() == 3 && channelOk && numberAt (message, 1, 0, 127, a) && numberAt (message, 2, 0, 127, b))
        return { status (0x90), byte (a), byte (b) };
    if (kind == "note_off" && (message.size() == 2 || message.size() == 3) && channelOk && numberAt (message, 1, 0, 127, a)
        && (message.size() == 2 || numberAt (message, 2, 0, 127, b)))
        return { status (0x80), byte (a), byte (b) };
    if (kind == "cc" && message.size() == 3 && channelOk && numberAt (message, 1, 0, 127, a) && numberAt (message, 2, 0, 127, b))
        return { status (0xb0), byte (a), byte (b) };
    if (kind == "program" && message.size() == 2 && channelOk && numberAt (message, 1, 0, 127, a))
        return { status (0xc0), byte (a) };
    if (kind == "pitch_bend" && message.size() == 2 && channelOk && numberAt (message, 1, -8192, 8191, a))
        return { status (0xe0), byte ((a + 8192) & 0x7f), byte ((a + 8192) >> 7) };
    if (kind == "raw" && message.size() == 1 && message[0].isBlob())
    {
        const auto& blob = message[0].getBlob();
        const auto* data = static_cast<const std::uint8_t*> (blob.getData());
        std::vector<std::uint8_t> bytes (data, data + blob.getSize());
        if (keyferry::RingWriter::validate ({ 0, bytes.data(), bytes.size() }) == keyferry::SendResult::ok)
            return bytes;
    }
    return {};
}
} // namespace

OscRouter::OscRouter (keyferry::SenderTable& tableToUse, keyferry::BlockClockFile& clockFile, int receiver)
    : table (tableToUse), clocks (clockFile), defaultReceiver (receiver)
{
}

void OscRouter::route (const juce::OSCBundle& bundle, int depth)
{
    if (depth >= maxNesting)
    {
        drops[badArguments].fetch_add (1);
        return;
    }

    const auto tag = bundle.getTimeTag();
    for (const auto& element : bundle)
    {
        if (element.isBundle())
            route (element.getBundle(), depth + 1); // a nested bundle keeps its own tag
        else if (element.isMessage())
            route (element.getMessage(), tag.isImmediately() ? std::nullopt : std::optional<juce::uint64> (tag.getRawTimeTag()));
    }
}

void OscRouter::route (const juce::OSCMessage& message, std::optional<juce::uint64> timeTag)
{
    // /keyferry/N/KIND or /keyferry/KIND
    const auto parts = juce::StringArray::fromTokens (message.getAddressPattern().toString(), "/", "");
    const auto numbered = parts.size() == 4 && parts[2].length() == 1 && parts[2].containsOnly ("123456789");
    const auto receiver = numbered ? parts[2].getIntValue() : defaultReceiver;

    if (parts.size() < 3 || parts[0].isNotEmpty() || parts[1] != "keyferry" || (parts.size() == 4 && ! numbered) || parts.size() > 4
        || receiver < 1)
    {
        drops[unknownAddress].fetch_add (1);
        return;
    }

    const auto kind = parts[parts.size() - 1];
    if (kind == "panic")
    {
        if (message.isEmpty())
            enqueue (receiver, {}, true, timeTag);
        else
            drops[badArguments].fetch_add (1);
        return;
    }

    const auto bytes = midiFor (kind, message);
    if (bytes.empty())
    {
        static const juce::StringArray kinds { "note_on", "note_off", "cc", "program", "pitch_bend", "raw" };
        drops[kinds.contains (kind) ? badArguments : unknownAddress].fetch_add (1);
        return;
    }

    enqueue (receiver, bytes, false, timeTag);
}

namespace
{
// The queue is a heap with the soonest message, and among equals the first to arrive, on top.
template <typename Pending>
bool later (const Pending& a, const Pending& b)
{
    return a.moment != b.moment ? a.moment > b.moment : a.sequence > b.sequence;
}
} // namespace

void OscRouter::enqueue (int receiver, std::vector<std::uint8_t> bytes, bool panic, std::optional<juce::uint64> timeTag)
{
    const auto now = keyferry::monotonicNanos();
    const auto moment = timeTag ? monotonicAt (*timeTag) : now;

    const std::lock_guard<std::mutex> guard (queueLock);
    if (queue.size() >= maxQueued)
    {
        drops[flooded].fetch_add (1);
        return;
    }

    queue.push_back ({ std::max (moment, now), arrivals++, receiver, panic, timeTag.has_value(), std::move (bytes) });
    if (timeTag && moment < now)
        queue.back().moment = moment; // already past: it goes first, and counts as late
    std::push_heap (queue.begin(), queue.end(), [] (const Pending& a, const Pending& b) { return later (a, b); });
}

void OscRouter::pump()
{
    // Every block clock the receivers published since, for the fit of where their samples stand.
    for (auto& target : targets)
    {
        keyferry::BlockClock clock;
        if (target.timed && target.link && keyferry::read (clocks.shared()->clocks[target.link->slotIndex()], clock)
            && clock.hasBlock())
            target.fit.add (clock.sampleCount, clock.blockStartNanos);
    }

    const auto horizon = keyferry::monotonicNanos() + lookaheadNanos;
    const auto order = [] (const Pending& a, const Pending& b) { return later (a, b); };

    for (;;)
    {
        Pending next;
        {
            const std::lock_guard<std::mutex> guard (queueLock);
            if (queue.empty() || queue.front().moment > horizon)
                return;
            std::pop_heap (queue.begin(), queue.end(), order);
            next = std::move (queue.back());
            queue.pop_back();
        }

        // A full ring is back-pressure: the message goes back first in line, and nothing is lost
        // until the queue itself overflows.
        if (! deliver (next))
        {
            ringFullWaits.fetch_add (1);
            const std::lock_guard<std::mutex> guard (queueLock);
            queue.push_back (std::move (next));
            std::push_heap (queue.begin(), queue.end(), order);
            return;
        }
    }
}

OscRouter::Target* OscRouter::targetFor (int receiver)
{
    auto& target = targets[static_cast<std::size_t> (receiver - 1)];

    if (target.link && target.link->isCurrent())
        return &target;

    keyferry::SendResult result {};
    target.link = table.link (receiver - 1, result);
    target.timed = false;
    target.fit.clear();

    if (! target.link)
    {
        drops[notHeld].fetch_add (1);
        return nullptr;
    }

    // A new claim: ask it to hold messages until their sample, and wait briefly for its yes.
    if (clocks.isOpen())
    {
        std::uint64_t claim[keyferry::ClaimIdWords] {};
        char id[keyferry::IdFieldSize] {};
        std::memcpy (id, target.link->receiverId().data(), std::min (target.link->receiverId().size(), sizeof (id) - 1));
        keyferry::claimIdWords (id, claim);
        keyferry::requestTimedDelivery (clocks.shared()->timed[receiver - 1], claim);

        const auto giveUp = std::chrono::steady_clock::now() + timedPatience;
        keyferry::BlockClock clock;
        while (std::chrono::steady_clock::now() < giveUp && ! target.timed)
        {
            target.timed = keyferry::read (clocks.shared()->clocks[receiver - 1], clock) && clock.has (keyferry::clockTimedDelivery)
                           && std::equal (std::begin (claim), std::end (claim), std::begin (clock.claimId));
            if (! target.timed)
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    }

    return &target;
}

std::optional<std::int64_t> OscRouter::sampleFor (Target& target, std::uint64_t moment)
{
    keyferry::BlockClock clock;
    const auto slot = target.link->slotIndex();
    if (! target.timed || ! keyferry::read (clocks.shared()->clocks[slot], clock) || ! std::isfinite (clock.sampleRate)
        || clock.sampleRate <= 0.0)
        return std::nullopt;

    // Until enough blocks are in: the latest block at the nominal rate.
    const auto sinceBlock = static_cast<double> (static_cast<std::int64_t> (moment - clock.blockStartNanos));
    const auto sample = target.fit.sampleAt (moment).value_or (static_cast<double> (clock.sampleCount) + sinceBlock * clock.sampleRate / 1.0e9);

    // clocks.dat is anyone's to write: a sample no receiver could reach plays as due.
    if (! std::isfinite (sample) || std::abs (sample) > 0x1p62)
        return std::nullopt;
    return std::llround (sample);
}

bool OscRouter::deliver (const Pending& pending)
{
    auto* target = targetFor (pending.receiver);
    if (target == nullptr)
        return true;

    target->played = true;
    if (pending.panic)
    {
        target->link->requestReset();
        return true;
    }

    // Timed, the position is the low 32 bits of the receiver's sample count; as due, the start
    // of the next block.
    // As soon as possible is now; a tagged moment stays its own, and if it has passed the
    // receiver plays it at once.
    const auto now = keyferry::monotonicNanos();
    const auto moment = pending.tagged ? pending.moment : now;
    const auto late = pending.tagged && pending.moment < now;
    const auto sample = sampleFor (*target, moment);
    const auto position = sample ? static_cast<std::int32_t> (static_cast<std::uint32_t> (*sample)) : 0;
    const auto& bytes = pending.bytes;
    const auto result = target->link->send ({ position, bytes.data(), bytes.size() });

    if (result == keyferry::SendResult::ringFull)
        return false;

    if (result == keyferry::SendResult::ok)
    {
        sentMessages.fetch_add (1);
        lateMessages.fetch_add (late ? 1 : 0);
    }
    else
    {
        drops[notHeld].fetch_add (1);
    }
    return true;
}

juce::String OscRouter::status() const
{
    const char* const words[numDrops] = { "unknown address", "bad arguments", "receiver not held", "ring full", "not OSC",
                                          "queue full" };
    juce::StringArray reasons;
    long total = 0;
    for (int drop = 0; drop < numDrops; ++drop)
        if (const auto count = drops[drop].load(); count > 0)
        {
            reasons.add (juce::String (count) + " " + words[drop]);
            total += count;
        }

    return "sent " + juce::String (sent()) + ", " + juce::String (late()) + " late, dropped " + juce::String (total)
           + (reasons.isEmpty() ? juce::String() : " (" + reasons.joinIntoString (", ") + ")")
           + (waits() > 0 ? ", waited on a full ring " + juce::String (waits()) + " times" : juce::String());
}

std::vector<int> OscRouter::receiversPlayed() const
{
    std::vector<int> played;
    for (std::size_t i = 0; i < targets.size(); ++i)
        if (targets[i].played)
            played.push_back (static_cast<int> (i) + 1);
    return played;
}
