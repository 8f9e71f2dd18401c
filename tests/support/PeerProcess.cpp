// A sending peer in a process of its own: links to a slot of the table at the default location
// and sends numbered note-ons, a sample position each.
//   peer_process SLOT COUNT FIRST_POSITION
// Exit status 0 when every message was accepted.

#include <sender/SenderTable.h>

#include <cstdio>
#include <cstdlib>

int main (int argc, char* argv[])
{
    if (argc != 4)
        return 2;

    const int slot = std::atoi (argv[1]);
    const int count = std::atoi (argv[2]);
    const int firstPosition = std::atoi (argv[3]);

    keyferry::SenderTable table;
    if (table.open() != keyferry::SendResult::ok)
        return 3;

    keyferry::SendResult result {};
    auto link = table.link (slot, result);
    if (! link)
    {
        std::fprintf (stderr, "peer_process: %s\n", keyferry::describe (result));
        return 4;
    }

    for (int i = 0; i < count; ++i)
    {
        const std::uint8_t noteOn[] = { 0x90, static_cast<std::uint8_t> (i & 0x7f), 100 };
        result = link->send ({ firstPosition + i, noteOn, sizeof (noteOn) });
        if (result != keyferry::SendResult::ok)
        {
            std::fprintf (stderr, "peer_process: %s\n", keyferry::describe (result));
            return 5;
        }
    }

    return 0;
}
