#include "KeyferryReceiverProcessor.h"

#include "../editor/KeyferryReceiverEditor.h"
#include "../table/MidiBufferWriter.h"
#include "../table/RingReader.h"

namespace
{
// Every slot this plug-in holds carries this name; the number is only shown, never published.
const char* const publishedReceiverName = "Receiver";

// What the longest drain can add; the merge with the host's events holds those too, and hosts
// send few per block.
constexpr std::size_t receivedMidiCapacity = maxDrainedBytes;
constexpr std::size_t mergedMidiCapacity = 4 * keyferry::RingSize;

bool isStereo (const juce::AudioChannelSet& set)
{
    return set == juce::AudioChannelSet::stereo();
}
} // namespace

KeyferryReceiverProcessor::KeyferryReceiverProcessor()
    : AudioProcessor (BusesProperties()
                          .withInput ("Input", juce::AudioChannelSet::stereo(), true)
                          .withOutput ("Output", juce::AudioChannelSet::stereo(), true))
{
    claimSlot();
}

KeyferryReceiverProcessor::~KeyferryReceiverProcessor()
{
    if (const auto index = slotIndex.load(); index >= 0)
        receiverTable.UnregisterReceiver (index);
}

void KeyferryReceiverProcessor::claimSlot()
{
    const auto index = receiverTable.RegisterReceiver (publishedReceiverName);

    if (char id[keyferry::IdFieldSize]; index >= 0 && receiverTable.CopyClaimId (index, id))
        receiverClock.startClaim (index, id);

    slotIndex.store (index);
    setDisplayName (index >= 0 ? "Receiver " + juce::String (index + 1) : juce::String ("Disconnected"));
}

void KeyferryReceiverProcessor::setDisplayName (const juce::String& newName)
{
    const juce::SpinLock::ScopedLockType lock (displayNameLock);
    displayName = newName;
}

juce::String KeyferryReceiverProcessor::getDisplayName() const
{
    const juce::SpinLock::ScopedLockType lock (displayNameLock);
    return displayName;
}

const juce::String KeyferryReceiverProcessor::getName() const
{
    return "Keyferry Receiver";
}

void KeyferryReceiverProcessor::prepareToPlay (double sampleRate, int)
{
    preparedSampleRate = sampleRate;
    receivedMidi.ensureSize (receivedMidiCapacity);
    mergedMidi.ensureSize (mergedMidiCapacity);

    if (slotIndex.load() < 0)
        claimSlot();
}

void KeyferryReceiverProcessor::releaseResources()
{
    const auto index = slotIndex.load();

    if (index < 0)
        return;

    receiverClock.endClaim();
    receiverTable.UnregisterReceiver (index);
    slotIndex.store (-1);
}

void KeyferryReceiverProcessor::processBlock (juce::AudioBuffer<float>& audio, juce::MidiBuffer& midi)
{
    audio.clear();

    const auto index = slotIndex.load();

    if (index < 0)
        return;

    // The block's place in time, as close to its start as the slot allows.
    const auto blockStartNanos = keyferry::monotonicNanos();

    const auto numSamples = audio.getNumSamples();
    const auto timed = receiverClock.timedDeliveryRequested();

    if (receiverTable.TakeResetRequest (index))
    {
        for (int channel = 1; channel <= 16; ++channel)
        {
            midi.addEvent (juce::MidiMessage::allNotesOff (channel), 0);
            midi.addEvent (juce::MidiMessage::allSoundOff (channel), 0);
        }

        // What waits for its time is cancelled with the notes that sound.
        if (timed)
            receiverTable.DropUnread (index);
    }

    receivedMidi.clear();
    std::uint64_t late = 0;

    // A block of no samples cannot play anything at its time: timed messages wait for the next.
    const auto moved = timed ? numSamples > 0 && receiverTable.ReadTimedMidi (index, receivedMidi, receiverClock.nextBlock (numSamples), late)
                             : receiverTable.ReadMidi (index, receivedMidi);

    if (moved)
    {
        midi_buffer_writer::addEventsInBlock (midi, receivedMidi, numSamples, mergedMidi);
        lastActivityMs.store (juce::Time::currentTimeMillis());
    }

    receiverClock.publish (blockStartNanos, numSamples, preparedSampleRate, getPlayHead(), timed, late);
}

double KeyferryReceiverProcessor::getTailLengthSeconds() const { return 0.0; }
bool KeyferryReceiverProcessor::acceptsMidi() const { return true; }
bool KeyferryReceiverProcessor::producesMidi() const { return true; }
bool KeyferryReceiverProcessor::isMidiEffect() const { return true; }

juce::AudioProcessorEditor* KeyferryReceiverProcessor::createEditor() { return new KeyferryReceiverEditor (*this); }
bool KeyferryReceiverProcessor::hasEditor() const { return true; }

int KeyferryReceiverProcessor::getNumPrograms() { return 1; }
int KeyferryReceiverProcessor::getCurrentProgram() { return 0; }
void KeyferryReceiverProcessor::setCurrentProgram (int) {}
const juce::String KeyferryReceiverProcessor::getProgramName (int) { return {}; }
void KeyferryReceiverProcessor::changeProgramName (int, const juce::String&) {}

void KeyferryReceiverProcessor::getStateInformation (juce::MemoryBlock& destData)
{
    juce::MemoryOutputStream stream (destData, true);
    stream.writeString (getDisplayName());
}

void KeyferryReceiverProcessor::setStateInformation (const void* data, int sizeInBytes)
{
    juce::MemoryInputStream stream (data, static_cast<size_t> (juce::jmax (0, sizeInBytes)), false);
    setDisplayName (stream.readString());
}

bool KeyferryReceiverProcessor::isBusesLayoutSupported (const BusesLayout& layouts) const
{
    const auto in = layouts.getMainInputChannelSet();
    return isStereo (layouts.getMainOutputChannelSet()) && (in.isDisabled() || isStereo (in));
}

juce::AudioProcessor* JUCE_CALLTYPE createPluginFilter()
{
    return new KeyferryReceiverProcessor();
}
