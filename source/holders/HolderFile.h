#pragma once

#include "ProcessIdentity.h"
#include "SharedHolderTable.h"

#include <companion/CompanionFile.h>

#include <table/SharedReceiverTable.h>

#include <string>

namespace keyferry
{

// holders.dat, mapped: who holds each slot of receivers.dat, and freeing the slots of holders
// that are provably gone. JUCE-free, used by the receiver and by peers (keyferry list and free).
//
// Freeing happens only under the file's lock (an exclusive flock on holders.dat), which every
// process that frees takes: so between judging a claim dead and releasing it nobody else can
// release that slot, and with its holder dead nobody else can claim it, and exactly one process
// frees each dead claim. Claims themselves take no lock. A record names a claim only while that
// claim holds its slot: whoever ends a claim (its holder's release, a sweep) empties the record
// first, so a claim racing a sweep, whose slot shows the previous identifier until it has written
// its own, finds no record to be judged by and is left alone.
class HolderFile
{
public:
    // Maps the file at 'path'. A receiver creates it (createIfMissing), or lays it out anew where
    // it holds something else than a holder table; a peer only opens one that is there. A file
    // of another version is left as it is, and then nothing is recorded or freed.
    bool open (const std::string& path, bool createIfMissing);
    void close() noexcept { file.close(); mapped = nullptr; }
    bool isOpen() const noexcept { return mapped != nullptr; }

    // Message thread of the holder. Records the calling process as the holder of the claim of
    // slot 'index' under the identifier 'id' (the slot's id field), once the claim is complete
    // and counted: a sweep that frees a recorded claim uncounts it. A process killed between its
    // claim and this record leaves a claim nobody can judge, so that slot stays held; the claim
    // and the record are a few dozen stores apart.
    void recordClaim (int index, const char (&id)[IdFieldSize]) noexcept;

    // Message thread of the holder, before it releases slot 'index': empties the slot's record
    // if it names this process. A process killed between this and its release leaves a slot
    // nobody can judge, as above.
    void forgetOwnClaim (int index) noexcept;

    struct Holder
    {
        bool held = false;
        bool recorded = false;        // a record of this very claim exists
        std::uint64_t processId = 0;  // as the record names it
        Liveness liveness = Liveness::unknown;
    };

    // What is known of the holder of slot 'index' now.
    Holder holderOf (const SharedReceiverTable& table, int index) const;

    // Frees every held slot whose holder is provably gone, as its holder's release would have:
    // exchange 'active' with 0, then the counters. Returns how many; 0 when the lock cannot be
    // had within a second (a frozen process holding it must not freeze a host's claim).
    int freeDeadHolders (SharedReceiverTable& table);

    enum class FreeOutcome
    {
        freed,
        notHeld,
        alive,     // the holder runs
        unknown,   // no record of this claim, or one that cannot be judged from here
        busy       // the lock could not be had
    };

    // Frees slot 'index' if, and only if, its holder is provably gone.
    FreeOutcome freeIfGone (SharedReceiverTable& table, int index);

    // Where the file lives next to the given receivers.dat.
    static std::string pathNextTo (const std::string& tablePath);

private:
    // holderOf, with the sequence value of the record it judged by.
    Holder observe (const SharedReceiverTable& table, int index, std::uint32_t& sequence) const;
    bool releaseIfGone (SharedReceiverTable& table, int index);

    CompanionFile file;
    SharedHolderTable* mapped = nullptr;
    ProcessIdentity self; // read once at open: a claim's record is then a few stores
};

} // namespace keyferry
