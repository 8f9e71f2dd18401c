// A soak host: several receiver instances in one process, each processing 64-sample blocks,
// deactivated and reactivated at random (so slots move), until a stop file appears; then a few
// more blocks drain what is left and every instance is released.
// It writes "claimed <identifier>" at once for every claim it makes (so a host killed later still
// leaves its claims counted) and "released <identifier>" for every release before the stop, then for every claim's identifier what arrived, one line per peer:
//   "<identifier> <peer> <first sequence> <last sequence> <count> <gaps>"
// and at the end "claims <n> corrupt <n> disorder <n> stolen <n>"; stolen counts the times an
// instance found its slot released or claimed by someone else while it held it.
//   soak_host INSTANCES STOP_FILE READY_FILE LOG SEED

#include "SoakProtocol.h"

#include <processor/KeyferryReceiverProcessor.h>

#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <thread>

namespace
{
bool exists (const std::string& path)
{
    struct stat info {};
    return ::stat (path.c_str(), &info) == 0;
}

struct Arrivals
{
    std::uint32_t first = 0, last = 0, count = 0, gaps = 0;
};
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 6)
        return 2;

    const int numInstances = std::atoi (argv[1]);
    const std::string stopFile = argv[2], readyFile = argv[3];
    std::ofstream log (argv[4]);
    std::mt19937 random (static_cast<std::uint32_t> (std::atoi (argv[5])));

    const auto tableFile = ReceiverTable::getTableFile();
    std::vector<std::unique_ptr<KeyferryReceiverProcessor>> instances;
    for (int i = 0; i < numInstances; ++i)
    {
        instances.push_back (std::make_unique<KeyferryReceiverProcessor>());
        instances.back()->prepareToPlay (48000.0, 64);
    }
    const juce::MemoryMappedFile mapping (tableFile, juce::MemoryMappedFile::readOnly, false);
    const auto& table = *static_cast<const keyferry::SharedReceiverTable*> (mapping.getData());

    long claims = 0, corrupt = 0, disorder = 0, stolen = 0;
    std::vector<std::string> idOf (static_cast<std::size_t> (numInstances));
    std::vector<char> robbed (static_cast<std::size_t> (numInstances), 0);
    const auto readId = [&] (int instance)
    {
        robbed[(std::size_t) instance] = 0;
        const auto slot = instances[(std::size_t) instance]->getSlotIndex();
        idOf[(std::size_t) instance] = slot >= 0 ? std::string (table.slots[slot].id, 32) : std::string();
        if (slot >= 0)
        {
            ++claims;
            log << "claimed " << idOf[(std::size_t) instance] << std::endl;
        }
    };
    // Whether the slot an instance holds is still its own claim.
    const auto stillHeld = [&] (int instance)
    {
        const auto slot = instances[(std::size_t) instance]->getSlotIndex();
        return slot < 0 || (table.slots[slot].active.load() != 0 && std::string (table.slots[slot].id, 32) == idOf[(std::size_t) instance]);
    };
    for (int i = 0; i < numInstances; ++i)
        readId (i);
    std::ofstream (readyFile) << "ready\n";

    std::map<std::pair<std::string, int>, Arrivals> arrivals;
    std::map<int, std::uint32_t> lastSequenceOfPeer;
    juce::AudioBuffer<float> audio (2, 64);
    juce::MidiBuffer midi;
    int drainRounds = -1;

    while (drainRounds != 0)
    {
        if (drainRounds < 0 && exists (stopFile))
            drainRounds = 200;
        else if (drainRounds > 0)
            --drainRounds;

        for (int i = 0; i < numInstances; ++i)
        {
            auto& instance = *instances[(std::size_t) i];

            if (drainRounds < 0 && random() % 300 == 0)
            {
                if (instance.getSlotIndex() >= 0)
                    log << "released " << idOf[(std::size_t) i] << std::endl;
                instance.releaseResources();
                instance.prepareToPlay (48000.0, 64);
                readId (i);
            }

            if (! robbed[(std::size_t) i] && ! stillHeld (i))
            {
                ++stolen;
                robbed[(std::size_t) i] = 1; // counted once per claim
            }

            midi.clear();
            instance.processBlock (audio, midi);

            for (const auto event : midi)
            {
                int peer = 0;
                std::uint32_t sequence = 0;
                if (event.numBytes == 3 && (event.data[0] & 0xf0) == 0xb0)
                    continue; // a reset answer
                if (! soak::decode (event.data, event.numBytes, peer, sequence))
                {
                    ++corrupt;
                    continue;
                }

                // Exactly once and in order, per peer, across every claim.
                if (auto found = lastSequenceOfPeer.find (peer); found != lastSequenceOfPeer.end() && sequence <= found->second)
                    ++disorder;
                lastSequenceOfPeer[peer] = sequence;

                auto& arrived = arrivals[{ idOf[(std::size_t) i], peer }];
                if (arrived.count == 0)
                    arrived.first = sequence;
                else if (sequence != arrived.last + 1)
                    ++arrived.gaps;
                arrived.last = sequence;
                ++arrived.count;
            }
        }
        std::this_thread::yield();
    }

    for (auto& instance : instances)
        instance->releaseResources();

    for (const auto& [key, arrived] : arrivals)
        log << key.first << " " << key.second << " " << arrived.first << " " << arrived.last << " " << arrived.count << " "
            << arrived.gaps << "\n";
    log << "claims " << claims << " corrupt " << corrupt << " disorder " << disorder << " stolen " << stolen << "\n";
    return 0;
}
