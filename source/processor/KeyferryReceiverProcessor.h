#pragma once

#include "../clock/ReceiverClock.h"
#include "../table/ReceiverTable.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>

// The plug-in's processor: a MIDI effect that claims one slot of the shared receiver table and
// emits what sending peers write into it. It passes no audio and passes the host's MIDI through.
//
// Threads: the host's control thread (normally the message thread) constructs, prepares,
// releases, saves, restores and destroys it; the audio thread runs processBlock; the editor
// reads it on the message thread. No lock is shared with the audio thread.
class KeyferryReceiverProcessor final : public juce::AudioProcessor
{
public:
    // Control thread. Opens the table and claims the lowest free slot.
    KeyferryReceiverProcessor();

    // Control thread. Gives a held slot back, then the table unmaps the file.
    ~KeyferryReceiverProcessor() override;

    const juce::String getName() const override;

    // Control thread. Claims a slot when none is held; prepares the audio thread's buffers.
    void prepareToPlay (double sampleRate, int maximumExpectedSamplesPerBlock) override;

    // Control thread. Gives the held slot back; the display name stays.
    void releaseResources() override;

    // Audio thread. Silences the audio, answers a reset request and forwards the slot's messages.
    void processBlock (juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi) override;
    using juce::AudioProcessor::processBlock;

    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;

    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;

    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram (int index) override;
    const juce::String getProgramName (int index) override;
    void changeProgramName (int index, const juce::String& newName) override;

    // Control thread. The state is the display name in UTF-8 and one zero byte.
    void getStateInformation (juce::MemoryBlock& destData) override;
    void setStateInformation (const void* data, int sizeInBytes) override;

    bool isBusesLayoutSupported (const BusesLayout& layouts) const override;

    // Any thread. The held slot's index 0-8, or -1 while none is held.
    int getSlotIndex() const noexcept { return slotIndex.load(); }

    // Any thread except the audio thread. "Receiver N", "Disconnected", or a restored name.
    juce::String getDisplayName() const;

    // Any thread. Wall-clock milliseconds of the last block whose drain moved the read position.
    juce::int64 getLastActivityMs() const noexcept { return lastActivityMs.load(); }

private:
    void claimSlot();
    void setDisplayName (const juce::String& newName);

    ReceiverTable receiverTable;

    // Where each block sits in time, for peers that place messages on exact samples.
    ReceiverClock receiverClock { ReceiverTable::getTableFile() };
    double preparedSampleRate = 0.0; // control thread, before processing starts

    // Written on the control thread only, read by the audio thread and the editor.
    std::atomic<int> slotIndex { -1 };

    // Never touched by the audio thread; the lock only keeps the editor's copy whole against a
    // host that restores state off the message thread.
    juce::String displayName;
    mutable juce::SpinLock displayNameLock;

    std::atomic<juce::int64> lastActivityMs { 0 };

    // The drain's and the merge's scratch space, reserved in prepareToPlay so that the audio
    // thread does not allocate.
    juce::MidiBuffer receivedMidi;
    juce::MidiBuffer mergedMidi;

    static_assert (std::atomic<juce::int64>::is_always_lock_free);
    static_assert (std::atomic<int>::is_always_lock_free);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KeyferryReceiverProcessor)
};
