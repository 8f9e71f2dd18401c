#pragma once

// Writes a holder record by hand, as a receiver in another process would have: the identity of
// a process that may not exist, for the claim 'claimId'. JUCE-free, for every build of the tests.

#include <holders/ProcessIdentity.h>
#include <holders/SharedHolderTable.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

inline void writeHolderRecord (keyferry::HolderRecord& record, const keyferry::ProcessIdentity& identity, const char* claimId)
{
    std::uint64_t words[5] {};
    std::memcpy (words, claimId, std::min (std::strlen (claimId), sizeof (words)));
    record.sequence += 2;
    record.platform = identity.platform;
    for (int i = 0; i < 5; ++i)
        record.claimId[i] = words[i];
    record.processId = identity.processId;
    record.startTime = identity.startTime;
    record.pidNamespace = identity.pidNamespace;
    record.bootId[0] = identity.bootId[0];
    record.bootId[1] = identity.bootId[1];
}
