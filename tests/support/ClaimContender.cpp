// One contender in the multi-process claim test: waits for the start byte on stdin, opens the
// table (creating the file if it has to), claims, prints the slot index and holds it until
// stdin closes.

#include <table/ReceiverTable.h>

#include <cstdio>
#include <unistd.h>

int main()
{
    char start = 0;
    if (::read (STDIN_FILENO, &start, 1) != 1)
        return 2;

    ReceiverTable table;
    const auto slot = table.RegisterReceiver ("Receiver");
    std::printf ("%d\n", slot);
    std::fflush (stdout);

    while (::read (STDIN_FILENO, &start, 1) > 0)
    {
    }

    return 0;
}
