#include "TableSnapshot.h"

#include <cstring>

namespace
{
template <std::size_t size>
std::string textOf (const char (&field)[size])
{
    return std::string (field, ::strnlen (field, size));
}
} // namespace

TableSnapshot TableSnapshot::read (const juce::File& tableFile)
{
    TableSnapshot snapshot;
    const juce::MemoryMappedFile mapping (tableFile, juce::MemoryMappedFile::readOnly, false);

    if (mapping.getData() == nullptr || mapping.getSize() != keyferry::TableFileSize)
        return snapshot;

    const auto& table = *static_cast<const keyferry::SharedReceiverTable*> (mapping.getData());
    snapshot.valid = true;
    snapshot.changeCounter = table.changeCounter.load();
    snapshot.activeCount = table.activeCount.load();

    for (std::size_t i = 0; i < snapshot.slots.size(); ++i)
    {
        const auto& slot = table.slots[i];
        snapshot.slots[i] = { slot.active.load() != 0, textOf (slot.id), textOf (slot.name) };
    }

    return snapshot;
}
