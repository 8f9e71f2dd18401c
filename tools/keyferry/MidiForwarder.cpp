#include "MidiForwarder.h"

#include <chrono>
#include <thread>

namespace
{
MidiForwarder::DropReason reasonFor (keyferry::SendResult result)
{
    if (result == keyferry::SendResult::messageTooLarge)
        return MidiForwarder::tooLarge;
    if (result == keyferry::SendResult::receiverChanged || result == keyferry::SendResult::slotNotHeld)
        return MidiForwarder::receiverGone;
    return MidiForwarder::notOneMessage;
}
} // namespace

void MidiForwarder::handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& message)
{
    if (message.isMetaEvent() || message.isActiveSense())
        return;

    const keyferry::OutgoingMessage outgoing { 0, message.getRawData(), static_cast<std::size_t> (message.getRawDataSize()) };

    // A full ring drains within one audio block; live MIDI waits that long at most.
    for (int attempt = 0; attempt < 50; ++attempt)
    {
        const auto result = link.send (outgoing);

        if (result == keyferry::SendResult::ok)
        {
            forwarded.fetch_add (1);
            return;
        }

        if (result != keyferry::SendResult::ringFull)
        {
            dropped[reasonFor (result)].fetch_add (1);
            return;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    dropped[ringFull].fetch_add (1);
}

long MidiForwarder::getDropped() const noexcept
{
    long total = 0;
    for (const auto& count : dropped)
        total += count.load();
    return total;
}

juce::String MidiForwarder::describeDrops() const
{
    const char* const words[numDropReasons] = { "longer than 256 bytes", "not one complete MIDI message", "ring full",
                                                "receiver released or claimed again" };
    juce::StringArray reasons;
    for (int reason = 0; reason < numDropReasons; ++reason)
        if (const auto count = dropped[reason].load(); count > 0)
            reasons.add (juce::String (count) + " " + words[reason]);

    if (reasons.isEmpty())
        return "dropped none";

    return "dropped " + juce::String (getDropped()) + " (" + reasons.joinIntoString (", ") + ")";
}
