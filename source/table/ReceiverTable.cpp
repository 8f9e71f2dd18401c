#include "ReceiverTable.h"

#include "RingReader.h"

#include <cstring>
#include <mutex>

namespace
{
using keyferry::NumSlots;
using keyferry::TableFileSize;

// How long Open waits for another process that is creating the file. Creating it takes
// milliseconds; past this, Open goes on unguarded rather than leave the instance disconnected.
constexpr int openLockTimeoutMs = 3000;

// Copies at most 'limit' bytes of the text and zero-fills the rest of those bytes, so no tail of a
// longer earlier text survives; the field's last byte lies beyond 'limit' and is never written,
// so a peer reading the field always finds a zero inside it.
template <std::size_t fieldSize>
void copyText (char (&field)[fieldSize], const char* text, std::size_t limit) noexcept
{
    static_assert (fieldSize > 1);
    jassert (limit < fieldSize);

    const auto length = std::min (std::strlen (text), limit);
    std::memcpy (field, text, length);
    std::memset (field + length, 0, limit - length);
}

// A file-system lock serialises processes, but POSIX record locks do not exclude threads of one
// process from each other, and closing any handle on the lock file drops them all. So Open also
// holds an in-process mutex around the cross-process lock.
std::mutex& openMutex()
{
    static std::mutex mutex;
    return mutex;
}

juce::String lockNameFor (const juce::File& tableFile)
{
    return "keyferry-receivers-"
           + juce::String::toHexString (tableFile.getFullPathName().hashCode64());
}

// Creates the file anew with every byte 0. Any failure is silent: the mapping step decides.
bool recreateTableFile (const juce::File& file)
{
    file.deleteFile();

    if (file.create().failed())
        return false;

    juce::FileOutputStream stream (file);

    if (! stream.openedOk())
        return false;

    const auto image = std::make_unique<keyferry::SharedReceiverTable>();
    stream.write (image.get(), TableFileSize);
    stream.flush();
    return true;
}
} // namespace

ReceiverTable::ReceiverTable()
{
    Open();
}

ReceiverTable::~ReceiverTable()
{
    Close();
}

juce::File ReceiverTable::getTableFile()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile (keyferry::TableFileRelativePath);
}

void ReceiverTable::Open()
{
    jassert (mappedFile == nullptr && sharedTable == nullptr);

    const auto file = getTableFile();

    // Guard check, re-creation and mapping together: otherwise one receiver can delete and
    // re-create the file that another has just mapped, and the two never meet again.
    const std::lock_guard<std::mutex> inProcess (openMutex());
    juce::InterProcessLock crossProcess (lockNameFor (file));
    const auto locked = crossProcess.enter (openLockTimeoutMs);

    const auto opened = [&]
    {
        if (file.getParentDirectory().createDirectory().failed())
            return false;

        const auto usable = file.existsAsFile() && file.getSize() == static_cast<juce::int64> (TableFileSize);

        if (! usable && ! recreateTableFile (file))
            return false;

        mappedFile = std::make_unique<juce::MemoryMappedFile> (file, juce::MemoryMappedFile::readWrite, false);

        // A view shorter than the table (the file shrank after the size check) is never used.
        if (mappedFile->getData() == nullptr || mappedFile->getSize() < TableFileSize)
        {
            mappedFile.reset();
            return false;
        }

        sharedTable = static_cast<keyferry::SharedReceiverTable*> (mappedFile->getData());

        // Without it the table works as before; only dead holders' slots stay held.
        holders.open (file.getSiblingFile (keyferry::HolderFileName).getFullPathName().toStdString(), true);
        return true;
    }();

    juce::ignoreUnused (opened);

    if (locked)
        crossProcess.exit();
}

void ReceiverTable::Close()
{
    sharedTable = nullptr;
    mappedFile.reset();
    holders.close();
}

keyferry::ReceiverSlot* ReceiverTable::slotAt (int slotIndex) const noexcept
{
    if (sharedTable == nullptr || slotIndex < 0 || slotIndex >= NumSlots)
        return nullptr;

    return &sharedTable->slots[slotIndex];
}

int ReceiverTable::RegisterReceiver (const juce::String& name)
{
    if (sharedTable == nullptr)
        return -1;

    // Slots whose holders died without releasing them are free again before the lowest is taken.
    holders.freeDeadHolders (*sharedTable);

    // Made before the claim, to keep the claim's instants few: see HolderFile::recordClaim.
    const auto id = juce::Uuid().toString();

    for (int index = 0; index < NumSlots; ++index)
    {
        auto& slot = sharedTable->slots[index];
        std::uint8_t expected = 0;

        if (! slot.active.compare_exchange_strong (expected, 1))
            continue;

        // The texts are plain bytes; the counter increments below publish them.
        copyText (slot.id, id.toRawUTF8(), keyferry::IdFieldSize - 1);
        copyText (slot.name, name.toRawUTF8(), keyferry::NameFieldSize - 1);
        slot.writePos.exchange (0);
        slot.readPos.exchange (0);
        sharedTable->activeCount.fetch_add (1);
        sharedTable->changeCounter.fetch_add (1);
        holders.recordClaim (index, slot.id);
        return index;
    }

    return -1;
}

void ReceiverTable::UnregisterReceiver (int slotIndex)
{
    auto* slot = slotAt (slotIndex);

    if (slot == nullptr)
        return;

    holders.forgetOwnClaim (slotIndex);
    if (slot->active.exchange (0) != 0)
    {
        sharedTable->activeCount.fetch_sub (1);
        sharedTable->changeCounter.fetch_add (1);
    }
}

bool ReceiverTable::TakeResetRequest (int slotIndex)
{
    auto* slot = slotAt (slotIndex);
    return slot != nullptr && slot->resetRequested.exchange (0) != 0;
}

bool ReceiverTable::ReadMidi (int slotIndex, juce::MidiBuffer& buffer)
{
    auto* slot = slotAt (slotIndex);
    return slot != nullptr && drainRing (*slot, buffer);
}

bool ReceiverTable::ReadTimedMidi (int slotIndex, juce::MidiBuffer& buffer, const TimedBlock& block, std::uint64_t& late)
{
    auto* slot = slotAt (slotIndex);
    return slot != nullptr && drainTimedRing (*slot, buffer, block, late);
}

void ReceiverTable::DropUnread (int slotIndex)
{
    if (auto* slot = slotAt (slotIndex))
        slot->readPos.exchange (slot->writePos.load());
}

bool ReceiverTable::CopyClaimId (int slotIndex, char (&id)[keyferry::IdFieldSize]) const
{
    const auto* slot = slotAt (slotIndex);
    if (slot == nullptr)
        return false;
    std::memcpy (id, slot->id, sizeof (id));
    return true;
}
