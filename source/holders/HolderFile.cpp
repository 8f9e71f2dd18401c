#include "HolderFile.h"

#include <cstring>

namespace keyferry
{
namespace
{
constexpr int maxReadAttempts = 1000;

using IdWords = std::uint64_t[5];

void wordsOf (const char (&id)[IdFieldSize], IdWords& words) noexcept
{
    static_assert (sizeof (IdWords) == IdFieldSize);
    std::memcpy (words, id, IdFieldSize);
}

// A consistent copy of a record and the sequence value it was read at, or false when the holder
// keeps writing it.
bool readRecord (const HolderRecord& record, ProcessIdentity& identity, IdWords& claimId, std::uint32_t& sequence) noexcept
{
    for (int attempt = 0; attempt < maxReadAttempts; ++attempt)
    {
        const auto before = record.sequence.load (std::memory_order_acquire);
        if ((before & 1u) != 0)
            continue;

        identity.platform = record.platform.load (std::memory_order_acquire);
        for (std::size_t i = 0; i < 5; ++i)
            claimId[i] = record.claimId[i].load (std::memory_order_acquire);
        identity.processId = record.processId.load (std::memory_order_acquire);
        identity.startTime = record.startTime.load (std::memory_order_acquire);
        identity.pidNamespace = record.pidNamespace.load (std::memory_order_acquire);
        identity.bootId[0] = record.bootId[0].load (std::memory_order_acquire);
        identity.bootId[1] = record.bootId[1].load (std::memory_order_acquire);

        if (record.sequence.load (std::memory_order_acquire) == before)
        {
            sequence = before;
            return true;
        }
    }
    return false;
}

bool sameProcess (const ProcessIdentity& a, const ProcessIdentity& b) noexcept
{
    return a.platform == b.platform && a.processId == b.processId && a.startTime == b.startTime
        && a.pidNamespace == b.pidNamespace && a.bootId == b.bootId;
}

// Only one process writes a record at a time: its holder, or, once the holder is gone, a
// sweeper under the file's lock.
void writeRecord (HolderRecord& record, const ProcessIdentity& identity, const IdWords& claimId) noexcept
{
    const auto sequence = record.sequence.load (std::memory_order_acquire);
    record.sequence.store (sequence + 1, std::memory_order_release);

    record.platform.store (identity.platform, std::memory_order_release);
    for (std::size_t i = 0; i < 5; ++i)
        record.claimId[i].store (claimId[i], std::memory_order_release);
    record.processId.store (identity.processId, std::memory_order_release);
    record.startTime.store (identity.startTime, std::memory_order_release);
    record.pidNamespace.store (identity.pidNamespace, std::memory_order_release);
    record.bootId[0].store (identity.bootId[0], std::memory_order_release);
    record.bootId[1].store (identity.bootId[1], std::memory_order_release);

    record.sequence.store (sequence + 2, std::memory_order_release);
}

// Empties a record before its claim ends. A claimer that takes the slot next shows it held under
// the old identifier until it has written its own: a record of the old claim still there would
// name the old holder for it, and a sweep that found that holder gone would free the new claim.
void forget (HolderRecord& record) noexcept
{
    const IdWords none {};
    writeRecord (record, ProcessIdentity {}, none);
}
} // namespace

bool HolderFile::open (const std::string& path, bool createIfMissing)
{
    mapped = nullptr;
    const CompanionFile::Layout layout { HolderFileMagic, HolderFileVersion, sizeof (HolderRecord), HolderFileSize };
    if (file.open (path, layout, createIfMissing))
        mapped = static_cast<SharedHolderTable*> (file.data());
    self = currentProcess();
    return mapped != nullptr;
}

void HolderFile::recordClaim (int index, const char (&id)[IdFieldSize]) noexcept
{
    if (mapped == nullptr || index < 0 || index >= NumSlots)
        return;

    IdWords claimId;
    wordsOf (id, claimId);
    writeRecord (mapped->records[index], self, claimId);
}

void HolderFile::forgetOwnClaim (int index) noexcept
{
    if (mapped == nullptr || index < 0 || index >= NumSlots)
        return;

    auto& record = mapped->records[index];
    ProcessIdentity identity;
    IdWords claimId;
    std::uint32_t sequence = 0;
    if (readRecord (record, identity, claimId, sequence) && sameProcess (identity, self))
        forget (record);
}

HolderFile::Holder HolderFile::holderOf (const SharedReceiverTable& table, int index) const
{
    std::uint32_t sequence = 0;
    return observe (table, index, sequence);
}

HolderFile::Holder HolderFile::observe (const SharedReceiverTable& table, int index, std::uint32_t& sequence) const
{
    Holder holder;

    if (index < 0 || index >= NumSlots)
        return holder;

    const auto& slot = table.slots[index];
    holder.held = slot.active.load() != 0;

    if (! holder.held || mapped == nullptr)
        return holder;

    // The slot's identifier is plain bytes a claimer may be writing: a torn copy matches no
    // record, which leaves the holder unknown.
    char id[IdFieldSize];
    std::memcpy (id, slot.id, IdFieldSize);
    IdWords slotId;
    wordsOf (id, slotId);

    ProcessIdentity identity;
    IdWords claimId;
    if (! readRecord (mapped->records[index], identity, claimId, sequence) || identity.platform == 0
        || std::memcmp (claimId, slotId, sizeof (IdWords)) != 0)
        return holder;

    holder.recorded = true;
    holder.processId = identity.processId;
    holder.liveness = judge (identity);
    return holder;
}

bool HolderFile::releaseIfGone (SharedReceiverTable& table, int index)
{
    std::uint32_t sequence = 0;
    if (observe (table, index, sequence).liveness != Liveness::gone)
        return false;

    // Judging reads the process table, which takes a while. A holder that released the slot and
    // ended in the meantime emptied its record first, and the slot may be a new claimer's by now:
    // only a record untouched since it was read still speaks for the slot. A holder judged gone
    // writes nothing more, and nobody else claims its slot until it is freed.
    auto& record = mapped->records[index];
    if (record.sequence.load (std::memory_order_acquire) != sequence)
        return false;

    // As the holder's own release: only the one that saw it held counts it.
    forget (record);
    if (table.slots[index].active.exchange (0) == 0)
        return false;

    table.activeCount.fetch_sub (1);
    table.changeCounter.fetch_add (1);
    return true;
}

int HolderFile::freeDeadHolders (SharedReceiverTable& table)
{
    if (mapped == nullptr || ! file.lock())
        return 0;

    int freed = 0;
    for (int index = 0; index < NumSlots; ++index)
        freed += releaseIfGone (table, index) ? 1 : 0;

    file.unlock();
    return freed;
}

HolderFile::FreeOutcome HolderFile::freeIfGone (SharedReceiverTable& table, int index)
{
    if (mapped == nullptr)
        return FreeOutcome::unknown;

    if (! file.lock())
        return FreeOutcome::busy;

    const auto holder = holderOf (table, index);
    auto outcome = FreeOutcome::unknown;

    if (! holder.held)
        outcome = FreeOutcome::notHeld;
    else if (holder.liveness == Liveness::alive)
        outcome = FreeOutcome::alive;
    else if (holder.liveness == Liveness::gone)
        outcome = releaseIfGone (table, index) ? FreeOutcome::freed : FreeOutcome::notHeld;

    file.unlock();
    return outcome;
}

std::string HolderFile::pathNextTo (const std::string& tablePath)
{
    return CompanionFile::pathNextTo (tablePath, HolderFileName);
}

} // namespace keyferry
