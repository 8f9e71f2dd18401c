// Writes the fuzzer's seed corpus: table images whose rings a peer filled through the sender
// library, wrapped and unwrapped, with the read and write positions of each slot in front.
//   make_seed_corpus FOLDER

#include <sender/RingWriter.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

int main (int argc, char* argv[])
{
    if (argc != 2)
        return 2;

    for (int seed = 0; seed < 16; ++seed)
    {
        auto table = std::make_unique<keyferry::SharedReceiverTable>();
        for (int index = 0; index < keyferry::NumSlots; ++index)
        {
            auto& slot = table->slots[index];
            // Start somewhere along the ring, so that some rings wrap.
            const auto start = static_cast<std::uint32_t> ((seed * 977 + index * 389) % 4000);
            slot.writePos = start;
            slot.readPos = start;
            keyferry::RingWriter writer (slot);
            for (int i = 0; i < 20 + seed * 7; ++i)
            {
                std::vector<std::uint8_t> bytes;
                switch ((i + index) % 4)
                {
                    case 0: bytes = { 0x90, static_cast<std::uint8_t> (i & 0x7f), 100 }; break;
                    case 1: bytes = { 0xb0, 7, static_cast<std::uint8_t> (seed) }; break;
                    case 2: bytes = { 0xc0, 5 }; break;
                    default:
                        bytes.assign (static_cast<std::size_t> (3 + (i * 37) % 250), 0x22);
                        bytes.front() = 0xf0;
                        bytes.back() = 0xf7;
                }
                writer.append ({ (i * 13) % 600 - 20, bytes.data(), bytes.size() });
            }
            slot.resetRequested = static_cast<std::uint8_t> ((seed + index) % 3 == 0);
        }

        std::vector<std::uint8_t> input (keyferry::NumSlots * 8);
        for (int index = 0; index < keyferry::NumSlots; ++index)
        {
            const std::uint32_t positions[2] = { table->slots[index].readPos.load(), table->slots[index].writePos.load() };
            std::memcpy (input.data() + index * 8, positions, 8);
        }
        const auto* image = reinterpret_cast<const std::uint8_t*> (table.get());
        input.insert (input.end(), image, image + keyferry::TableFileSize);

        const auto path = std::string (argv[1]) + "/seed-" + std::to_string (seed);
        if (auto* file = std::fopen (path.c_str(), "wb"))
        {
            std::fwrite (input.data(), 1, input.size(), file);
            std::fclose (file);
        }
        else
            return 1;
    }
    return 0;
}
