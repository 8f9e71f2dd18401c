#include "MidiForwarder.h"

#include <chrono>
#include <thread>

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
            changed.store (result == keyferry::SendResult::receiverChanged || result == keyferry::SendResult::slotNotHeld);
            break;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }

    dropped.fetch_add (1);
}
