#pragma once

#include "SharedReceiverTable.h"

#include "RingReader.h"

#include <holders/HolderFile.h>

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_core/juce_core.h>

#include <memory>

// The receiver's side of receivers.dat: finds or creates the file, maps it, claims and releases
// slots, takes a slot's reset request and drains a slot's ring into a MidiBuffer.
//
// It keeps no slot state of its own; everything lives in the mapping, where other receivers and
// the sending peers see it. It takes no lock on the audio thread and reports failures only
// through its results: -1, false, or a table that stays unmapped.
class ReceiverTable
{
public:
    // Message thread (as a member of the processor). Opens and maps the table file; a failure
    // leaves the table unmapped for its whole life.
    ReceiverTable();

    // Unmaps the file. Releases no slot: the owner gives its slot back first.
    ~ReceiverTable();

    // Control thread. Frees the slots of holders that are provably gone (see HolderFile), then
    // claims the lowest free slot under a fresh identifier and the given name (cut to 31 bytes
    // of UTF-8) and records this process as its holder; returns its index, or -1 when unmapped
    // or all slots are held.
    int RegisterReceiver (const juce::String& name);

    // Control thread. Frees the slot; the counters change only if it was held.
    void UnregisterReceiver (int slotIndex);

    // Audio thread. Takes the slot's reset request, clearing it; true if one was pending.
    bool TakeResetRequest (int slotIndex);

    // Audio thread. Adds the slot's unread messages to the buffer; true if readPos moved.
    bool ReadMidi (int slotIndex, juce::MidiBuffer& buffer);

    // Audio thread. ReadMidi for a slot whose peer asked for timed delivery (see drainTimedRing):
    // only what is due by the end of the block; 'late' counts what came after its time.
    bool ReadTimedMidi (int slotIndex, juce::MidiBuffer& buffer, const TimedBlock& block, std::uint64_t& late);

    // Audio thread. Drops whatever the slot's ring holds unread: in timed delivery a reset
    // request also cancels what waits for its time.
    void DropUnread (int slotIndex);

    // Control thread. The identifier of the slot's current claim; false when unmapped.
    bool CopyClaimId (int slotIndex, char (&id)[keyferry::IdFieldSize]) const;

    bool isMapped() const noexcept { return sharedTable != nullptr; }

    // Where the table file lives for the current user.
    static juce::File getTableFile();

private:
    void Open();
    void Close();

    keyferry::ReceiverSlot* slotAt (int slotIndex) const noexcept;

    std::unique_ptr<juce::MemoryMappedFile> mappedFile;
    keyferry::SharedReceiverTable* sharedTable = nullptr;
    keyferry::HolderFile holders; // holders.dat next to the table

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ReceiverTable)
};
