// libFuzzer target: arbitrary bytes as a whole table image, with the read and write positions of
// every slot, drained by the receiver's table. Checks that every call returns (libFuzzer's
// timeout catches a walk that does not end), that nothing is read or written outside the mapping
// (AddressSanitizer), the readPos rules, and that the drained events are byte for byte those of
// the one-by-one walk.
//
// Input: 9 x (uint32 readPos, uint32 writePos), then the image's bytes (the rest zero).

#include "../tests/support/ReferenceDrain.h"

#include <table/ReceiverTable.h>
#include <table/RingReader.h>

#include <cstdlib>
#include <cstring>

namespace
{
using keyferry::NumSlots;
using keyferry::RingSize;
using keyferry::TableFileSize;

constexpr std::size_t positionsSize = NumSlots * 8;

struct Harness
{
    Harness()
    {
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        juce::Logger::setCurrentLogger (&quiet);
        table = std::make_unique<ReceiverTable>();
        view = std::make_unique<juce::MemoryMappedFile> (ReceiverTable::getTableFile(), juce::MemoryMappedFile::readWrite, false);
        if (! table->isMapped() || view->getData() == nullptr)
            std::abort();
        buffer.ensureSize (maxDrainedBytes);
    }

    struct QuietLogger final : juce::Logger
    {
        void logMessage (const juce::String&) override {}
    };

    juce::File home = juce::File::createTempFile ("keyferry-fuzz-home");
    QuietLogger quiet;
    std::unique_ptr<ReceiverTable> table;
    std::unique_ptr<juce::MemoryMappedFile> view;
    juce::MidiBuffer buffer, reference;
};
} // namespace

extern "C" int LLVMFuzzerTestOneInput (const std::uint8_t* data, std::size_t size)
{
    static Harness harness;
    auto* image = static_cast<std::uint8_t*> (harness.view->getData());
    auto& shared = *reinterpret_cast<keyferry::SharedReceiverTable*> (image);

    std::memset (image, 0, TableFileSize);
    if (size > positionsSize)
        std::memcpy (image, data + positionsSize, std::min (size - positionsSize, TableFileSize));

    for (int index = 0; index < NumSlots; ++index)
    {
        std::uint32_t positions[2] {};
        if (size >= (std::size_t) (index + 1) * 8)
            std::memcpy (positions, data + index * 8, 8);
        auto& slot = shared.slots[index];
        slot.readPos.store (positions[0]);
        slot.writePos.store (positions[1]);
    }

    for (int index = -1; index <= NumSlots; ++index)
    {
        const auto inTable = index >= 0 && index < NumSlots;
        const auto resetWas = inTable ? shared.slots[index].resetRequested.load() : 0;
        const auto taken = harness.table->TakeResetRequest (index);
        if (taken != (resetWas != 0) || (inTable && shared.slots[index].resetRequested.load() != 0))
            std::abort();

        harness.buffer.clear();
        harness.reference.clear();

        if (! inTable)
        {
            if (harness.table->ReadMidi (index, harness.buffer) || ! harness.buffer.isEmpty())
                std::abort();
            continue;
        }

        auto& slot = shared.slots[index];
        const auto readPos = slot.readPos.load();
        const auto writePos = slot.writePos.load();
        std::uint32_t expectedReadPos = readPos;
        const auto expected = referenceDrain (slot, readPos, writePos, harness.reference, expectedReadPos);

        const auto moved = harness.table->ReadMidi (index, harness.buffer);

        // readPos moves exactly when the call says so, to where the walk rules put it: onto
        // writePos, or just past a header (never beyond the ring unless writePos was).
        if (moved != expected || slot.readPos.load() != expectedReadPos || slot.writePos.load() != writePos)
            std::abort();
        if (moved && ! (slot.readPos.load() == writePos || slot.readPos.load() <= RingSize))
            std::abort();
        // The processor reserves room for the longest walk; a longer one would allocate.
        const auto bytes = static_cast<std::size_t> (harness.buffer.data.size());
        if (bytes > maxDrainedBytes)
            std::abort();
        if (bytes != static_cast<std::size_t> (harness.reference.data.size())
            || (bytes > 0 && std::memcmp (harness.buffer.data.begin(), harness.reference.data.begin(), bytes) != 0))
            std::abort();

        // Timed delivery walks the same ring from the same place, for a block placed by the
        // positions themselves: it ends, stays in the mapping and the reserve, and never moves
        // readPos past where the plain drain put it on a landing.
        slot.readPos.store (readPos);
        harness.buffer.clear();
        std::uint64_t late = 0;
        const TimedBlock block { readPos ^ writePos, static_cast<int> ((readPos + writePos) % 4097) };
        const auto timedMoved = harness.table->ReadTimedMidi (index, harness.buffer, block, late);
        if (static_cast<std::size_t> (harness.buffer.data.size()) > maxDrainedBytes || slot.writePos.load() != writePos)
            std::abort();
        if (! timedMoved && slot.readPos.load() != readPos)
            std::abort();
        if (late > static_cast<std::uint64_t> (harness.buffer.getNumEvents()))
            std::abort();
    }

    return 0;
}
