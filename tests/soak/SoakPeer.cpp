// A soak peer: sends numbered messages to one slot at full speed until told to stop (a file
// appears) or its count is reached, follows the slot across re-claims, and requests resets at
// random. Writes one line per link: "<identifier> <first sequence> <end sequence>".
//   soak_peer TABLE SLOT COUNT STOP_FILE LOG SEED

#include "SoakProtocol.h"

#include <sender/SenderTable.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <thread>

namespace
{
bool exists (const std::string& path)
{
    struct stat info {};
    return ::stat (path.c_str(), &info) == 0;
}
} // namespace

int main (int argc, char* argv[])
{
    if (argc != 7)
        return 2;

    const std::string tablePath = argv[1], stopFile = argv[4];
    const int slot = std::atoi (argv[2]);
    const auto count = static_cast<std::uint32_t> (std::strtoul (argv[3], nullptr, 10));
    std::ofstream log (argv[5]);
    std::mt19937 random (static_cast<std::uint32_t> (std::atoi (argv[6])));

    keyferry::SenderTable table;
    if (table.open (tablePath) != keyferry::SendResult::ok)
        return 3;

    std::uint32_t sequence = 0;
    while (sequence < count && ! exists (stopFile))
    {
        keyferry::SendResult result {};
        auto link = table.link (slot, result);
        if (! link)
        {
            std::this_thread::yield(); // the receiver is between release and claim
            continue;
        }

        const auto first = sequence;
        while (sequence < count)
        {
            const auto message = soak::encode (slot, sequence);
            result = link->send ({ 0, message.data(), message.size() });

            if (result == keyferry::SendResult::ok)
            {
                ++sequence;
                if (random() % 5000 == 0)
                    link->requestReset();
            }
            else if (result == keyferry::SendResult::ringFull)
            {
                if ((sequence & 0xff) == 0 && exists (stopFile))
                    break;
                std::this_thread::yield();
            }
            else
                break; // released or claimed again: a new link
        }

        log << link->receiverId() << " " << first << " " << sequence << "\n";
    }

    return 0;
}
