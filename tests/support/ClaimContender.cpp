// One contender in the multi-process claim tests: waits for the start byte on stdin, opens the
// table (creating the file if it has to), claims COUNT slots (default 1) with a table each,
// prints the slot indices one a line and holds them until stdin closes or it is killed.

#include <table/ReceiverTable.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>
#include <vector>

int main (int argc, char** argv)
{
    const auto count = argc > 1 ? std::atoi (argv[1]) : 1;

    char start = 0;
    if (::read (STDIN_FILENO, &start, 1) != 1)
        return 2;

    std::vector<std::unique_ptr<ReceiverTable>> tables;
    for (int i = 0; i < count; ++i)
    {
        tables.push_back (std::make_unique<ReceiverTable>());
        std::printf ("%d\n", tables.back()->RegisterReceiver ("Receiver"));
    }
    std::fflush (stdout);

    while (::read (STDIN_FILENO, &start, 1) > 0)
    {
    }

    return 0;
}
