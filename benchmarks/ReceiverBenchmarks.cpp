// Benchmarks of the receiver's audio-thread work, each beside a baseline measured in the same
// run on the same data; docs/PERFORMANCE.md reports the ratios (scripts/benchmark.sh).

#include <clock/ReceiverClock.h>
#include <processor/KeyferryReceiverProcessor.h>
#include <sender/RingWriter.h>
#include <table/MidiBufferWriter.h>
#include <table/RingReader.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace
{
// A slot whose ring holds up to 'count' messages of 'size' bytes from offset 0 (as many as fit),
// at rising positions within a 64-sample block, as a peer sends them.
struct FilledSlot
{
    FilledSlot (int count, int size)
    {
        keyferry::RingWriter writer (*slot);
        // One whole event of each size: a clock tick, a program change, a note-on, or system
        // exclusive.
        std::vector<std::uint8_t> bytes (static_cast<std::size_t> (size), 0x11);
        bytes.front() = 0xf0;
        bytes.back() = 0xf7;
        if (size == 1)
            bytes = { 0xf8 };
        if (size == 2)
            bytes = { 0xc0, 0x11 };
        if (size == 3)
            bytes = { 0x90, 60, 100 };

        for (int i = 0; i < count; ++i)
            if (writer.append ({ i * 64 / count, bytes.data(), bytes.size() }) == keyferry::SendResult::ok)
                ++messages;
        end = slot->writePos.load();
    }

    void rewind() { slot->readPos.store (0); }

    std::unique_ptr<keyferry::ReceiverSlot> slot = std::make_unique<keyferry::ReceiverSlot>();
    int messages = 0;
    std::uint32_t end = 0;
};

// The straightforward method: every message added one by one, then forwarded one by one.
void drainOneByOne (keyferry::ReceiverSlot& slot, juce::MidiBuffer& temporary, juce::MidiBuffer& host, int numSamples)
{
    auto position = slot.readPos.load();
    const auto writePos = slot.writePos.load();
    while (position != writePos)
    {
        if (position > keyferry::RingSize - keyferry::MessageHeaderSize)
        {
            position = 0;
            continue;
        }
        std::int32_t samplePosition;
        std::uint16_t size;
        std::memcpy (&samplePosition, slot.ring + position, 4);
        std::memcpy (&size, slot.ring + position + 4, 2);
        temporary.addEvent (slot.ring + position + 6, size, samplePosition);
        position += 6u + size;
    }
    slot.readPos.store (position);
    host.addEvents (temporary, 0, numSamples, 0);
}

void reserve (juce::MidiBuffer& buffer) { buffer.ensureSize (4 * keyferry::RingSize); }

void BM_DrainForward_OneByOne (benchmark::State& state)
{
    FilledSlot filled (static_cast<int> (state.range (0)), static_cast<int> (state.range (1)));
    juce::MidiBuffer temporary, host;
    reserve (temporary);
    reserve (host);
    for (auto _ : state)
    {
        filled.rewind();
        temporary.clear();
        host.clear();
        drainOneByOne (*filled.slot, temporary, host, 64);
        benchmark::DoNotOptimize (host.data.getRawDataPointer());
    }
    state.counters["messages"] = filled.messages;
}

void BM_DrainForward_Receiver (benchmark::State& state)
{
    FilledSlot filled (static_cast<int> (state.range (0)), static_cast<int> (state.range (1)));
    juce::MidiBuffer received, host, merged;
    reserve (received);
    reserve (host);
    reserve (merged);
    for (auto _ : state)
    {
        filled.rewind();
        received.clear();
        host.clear();
        drainRing (*filled.slot, received);
        midi_buffer_writer::addEventsInBlock (host, received, 64, merged);
        benchmark::DoNotOptimize (host.data.getRawDataPointer());
    }
    state.counters["messages"] = filled.messages;
}

// (messages, bytes per message): 1, 64 and a full ring of 3-byte messages; 1 and a full ring of
// 256-byte system exclusive.
void drainArguments (benchmark::internal::Benchmark* benchmark)
{
    for (const auto& arguments : std::vector<std::vector<std::int64_t>> { { 1, 3 }, { 64, 3 }, { 1000, 3 }, { 1, 256 }, { 1000, 256 } })
        benchmark->Args (arguments);
}

BENCHMARK (BM_DrainForward_OneByOne)->Apply (drainArguments);
BENCHMARK (BM_DrainForward_Receiver)->Apply (drainArguments);

// processBlock in a temporary HOME, against clearing the audio alone.
struct ProcessorFixture
{
    explicit ProcessorFixture (int blockSize)
        : audio (2, blockSize)
    {
        home.createDirectory();
        ::setenv ("HOME", home.getFullPathName().toRawUTF8(), 1);
        processor = std::make_unique<KeyferryReceiverProcessor>();
        processor->prepareToPlay (48000.0, blockSize);
        mapping = std::make_unique<juce::MemoryMappedFile> (
            home.getChildFile (".config").getChildFile (keyferry::TableFileRelativePath), juce::MemoryMappedFile::readWrite, false);
        midi.ensureSize (4 * keyferry::RingSize);
    }

    ~ProcessorFixture()
    {
        processor.reset();
        mapping.reset();
        home.deleteRecursively();
    }

    keyferry::ReceiverSlot& slot() { return static_cast<keyferry::SharedReceiverTable*> (mapping->getData())->slots[0]; }

    juce::File home = juce::File::createTempFile ("keyferry-benchmark-home");
    std::unique_ptr<KeyferryReceiverProcessor> processor;
    std::unique_ptr<juce::MemoryMappedFile> mapping;
    juce::AudioBuffer<float> audio;
    juce::MidiBuffer midi;
};

void BM_Block_ClearOnly (benchmark::State& state)
{
    juce::AudioBuffer<float> audio (2, static_cast<int> (state.range (0)));
    for (auto _ : state)
    {
        benchmark::DoNotOptimize (audio.getWritePointer (0)); // the host wrote its input here
        audio.clear();
        benchmark::DoNotOptimize (audio.getReadPointer (0));
    }
}

enum Situation
{
    noSlot,
    emptyRing,
    resetRequest,
    fullRing
};

void BM_Block_Process (benchmark::State& state)
{
    ProcessorFixture fixture (static_cast<int> (state.range (0)));
    const auto situation = static_cast<Situation> (state.range (1));

    if (situation == noSlot)
        fixture.processor->releaseResources();

    std::uint32_t fullEnd = 0;
    if (situation == fullRing)
    {
        keyferry::RingWriter writer (fixture.slot());
        const std::uint8_t noteOn[] = { 0x90, 60, 100 };
        for (int i = 0; writer.append ({ i / 8, noteOn, 3 }) == keyferry::SendResult::ok; ++i)
        {
        }
        fullEnd = fixture.slot().writePos.load();
    }

    for (auto _ : state)
    {
        if (situation == resetRequest)
            fixture.slot().resetRequested.store (1);
        if (situation == fullRing)
            fixture.slot().readPos.store (fullEnd == 0 ? 1 : 0);
        fixture.midi.clear();
        benchmark::DoNotOptimize (fixture.audio.getWritePointer (0)); // the host wrote its input here
        fixture.processor->processBlock (fixture.audio, fixture.midi);
        benchmark::DoNotOptimize (fixture.midi.data.getRawDataPointer());
    }
}

// What the block clock adds to every block: reading the monotonic clock, looking at the timed
// delivery request, asking the play head and publishing the record.
struct FixedPlayHead final : juce::AudioPlayHead
{
    juce::Optional<PositionInfo> getPosition() const override
    {
        PositionInfo info;
        info.setIsPlaying (true);
        info.setBpm (120.0);
        info.setPpqPosition (8.0);
        info.setTimeSignature (TimeSignature { 4, 4 });
        info.setTimeInSamples (192000);
        return info;
    }
};

void BM_Block_ClockPublish (benchmark::State& state)
{
    ProcessorFixture fixture (64); // lays out the files in a temporary HOME
    ReceiverClock clock (ReceiverTable::getTableFile());
    char id[keyferry::IdFieldSize] {};
    clock.startClaim (0, id);
    FixedPlayHead playHead;
    auto* head = state.range (0) != 0 ? &playHead : nullptr;

    for (auto _ : state)
    {
        const auto start = keyferry::monotonicNanos();
        const auto timed = clock.timedDeliveryRequested();
        clock.publish (start, 64, 48000.0, head, timed, 0);
    }
}

BENCHMARK (BM_Block_ClearOnly)->Arg (64)->Arg (512)->Arg (2048);
BENCHMARK (BM_Block_ClockPublish)->Arg (0)->Arg (1);
BENCHMARK (BM_Block_Process)->ArgsProduct ({ { 64, 512, 2048 }, { noSlot, emptyRing, resetRequest, fullRing } });

// The sender's append against copying the same bytes.
void BM_Send_Memcpy (benchmark::State& state)
{
    std::vector<std::uint8_t> target (keyferry::RingSize);
    const std::uint8_t message[] = { 10, 0, 0, 0, 3, 0, 0x90, 60, 100 };
    std::size_t offset = 0;
    for (auto _ : state)
    {
        if (offset + sizeof (message) > target.size())
            offset = 0;
        std::memcpy (target.data() + offset, message, sizeof (message));
        offset += sizeof (message);
        benchmark::DoNotOptimize (target.data());
    }
}

void BM_Send_Append (benchmark::State& state)
{
    auto slot = std::make_unique<keyferry::ReceiverSlot>();
    keyferry::RingWriter writer (*slot);
    const std::uint8_t noteOn[] = { 0x90, 60, 100 };
    for (auto _ : state)
    {
        if (writer.append ({ 10, noteOn, 3 }) != keyferry::SendResult::ok)
            slot->readPos.store (slot->writePos.load()); // as if the receiver had drained
        benchmark::DoNotOptimize (slot->ring);
    }
}

BENCHMARK (BM_Send_Memcpy);
BENCHMARK (BM_Send_Append);
} // namespace

BENCHMARK_MAIN();
