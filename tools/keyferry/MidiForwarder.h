#pragma once

#include <sender/SenderTable.h>

#include <juce_audio_devices/juce_audio_devices.h>

#include <atomic>

// Forwards live MIDI from an input into one receiver, each message as soon as it comes (at the
// start of the receiver's next block). Called on the MIDI input's thread, the link's one writer.
class MidiForwarder final : public juce::MidiInputCallback
{
public:
    // Why a message was not forwarded.
    enum DropReason
    {
        tooLarge,       // system exclusive longer than one ring message holds
        notOneMessage,  // not one complete MIDI event
        ringFull,       // the receiver did not make room in time
        receiverGone,   // released or claimed again
        numDropReasons
    };

    explicit MidiForwarder (keyferry::ReceiverLink receiverLink) : link (std::move (receiverLink)) {}

    void handleIncomingMidiMessage (juce::MidiInput* source, const juce::MidiMessage& message) override;

    // Any thread.
    long getForwarded() const noexcept { return forwarded.load(); }
    long getDropped() const noexcept;
    long getDropped (DropReason reason) const noexcept { return dropped[reason].load(); }
    bool receiverChanged() const noexcept { return dropped[receiverGone].load() > 0; }

    // "dropped none", or "dropped 3 (2 longer than 256 bytes, 1 ring full)".
    juce::String describeDrops() const;

private:
    keyferry::ReceiverLink link;
    std::atomic<long> forwarded { 0 };
    std::atomic<long> dropped[numDropReasons] {};
};
