// One contender in the multi-process claim tests: waits for the start byte on stdin, opens the
// table (creating the file if it has to), claims COUNT slots (default 1) with a table each,
// prints the slot indices one a line and holds them until stdin closes or it is killed. With
// "release" after COUNT it releases them when stdin closes, as a host that quits does.

#include <table/ReceiverTable.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

int main (int argc, char** argv)
{
    const auto count = argc > 1 ? std::atoi (argv[1]) : 1;
    const auto release = argc > 2 && std::strcmp (argv[2], "release") == 0;

    char start = 0;
    if (::read (STDIN_FILENO, &start, 1) != 1)
        return 2;

    std::vector<std::unique_ptr<ReceiverTable>> tables;
    std::vector<int> slots;
    for (int i = 0; i < count; ++i)
    {
        tables.push_back (std::make_unique<ReceiverTable>());
        slots.push_back (tables.back()->RegisterReceiver ("Receiver"));
        std::printf ("%d\n", slots.back());
    }
    std::fflush (stdout);

    while (::read (STDIN_FILENO, &start, 1) > 0)
    {
    }

    if (release)
        for (std::size_t i = 0; i < tables.size(); ++i)
            tables[i]->UnregisterReceiver (slots[i]);

    return 0;
}
