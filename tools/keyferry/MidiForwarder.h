#pragma once

#include <sender/SenderTable.h>

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>

// Forwards live MIDI from an input into one receiver, each message as soon as it comes (at the
// start of the receiver's next block). Called on the MIDI input's thread, the link's one writer.
class MidiForwarder final : public juce::MidiInputCallback
{
public:
    explicit MidiForwarder (keyferry::ReceiverLink receiverLink) : link (std::move (receiverLink)) {}

    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

    // Any thread.
    long getForwarded() const noexcept { return forwarded.load(); }
    long getDropped() const noexcept { return dropped.load(); }
    bool receiverChanged() const noexcept { return changed.load(); }

private:
    keyferry::ReceiverLink link;
    std::atomic<long> forwarded { 0 }, dropped { 0 };
    std::atomic<bool> changed { false };
};
