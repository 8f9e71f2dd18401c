#include "ProcessIdentity.h"

// Where no way of naming a process across reboots and namespaces is built in yet, every holder
// is unknown: nothing is ever freed, which is the safe answer.

namespace keyferry
{

ProcessIdentity currentProcess()
{
    return {};
}

Liveness judge (const ProcessIdentity&)
{
    return Liveness::unknown;
}

} // namespace keyferry
