#pragma once

// The byte layout of receivers.dat, shared by the receiver plug-in and every sending peer.
// JUCE-free C++17 on purpose: peers include this header and nothing else of the plug-in.
//
// Every process maps the whole file and works on these records in place. There is no lock and
// no other channel; all coordination goes through the atomic fields below, each of them
// lock-free (and so address-free, which is what makes it work across processes) and exactly as
// wide as the integer it stands for. Every access is sequentially consistent.
//
// Who writes what:
//   changeCounter, activeCount  receivers only: +1 / -1 at claims and releases; nobody reads them
//                               for control, peers may watch changeCounter to notice re-claims.
//   active                      receivers only: claim by compare-exchange 0 -> 1, release by
//                               exchange with 0. Any nonzero value counts as held.
//   id, name                    the claiming receiver, plain bytes written after 'active' is set
//                               and published by the counter increments that follow them.
//   resetRequested              set to 1 by a peer, taken back to 0 by the holder by exchange.
//   writePos                    the peer, after the message bytes it publishes; the receiver
//                               resets it to 0 at a claim.
//   readPos                     the holder, once per drain, after it has read the bytes.
//   ring                        the peer, only between readPos and the end of what it publishes.
//
// Ring rules, as the receiver reads: a message is int32 samplePosition, uint16 msgSize
// (1 ... MaxMessageSize), then msgSize bytes; it never runs across the end of the ring. Where
// fewer than MessageHeaderSize bytes remain before the end, the reader goes on at 0, so a peer
// must put the next message there too. Equal positions mean an empty ring.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace keyferry
{

inline constexpr int NumSlots = 9;
inline constexpr std::uint32_t RingSize = 4096;
inline constexpr std::uint32_t MessageHeaderSize = 6;
inline constexpr std::uint32_t MaxMessageSize = 256;
inline constexpr std::size_t TableFileSize = 37628;

inline constexpr std::size_t IdFieldSize = 40;
inline constexpr std::size_t NameFieldSize = 32;

// The relative path of the table file inside the user's application-data folder.
inline constexpr const char* TableFileRelativePath = "Keyferry/receivers.dat";

struct ReceiverSlot
{
    char id[IdFieldSize] {};
    char name[NameFieldSize] {};
    std::atomic<std::uint8_t> active { 0 };
    std::atomic<std::uint8_t> resetRequested { 0 };
    std::uint8_t reserved[2] {};
    std::atomic<std::uint32_t> writePos { 0 };
    std::atomic<std::uint32_t> readPos { 0 };
    std::uint8_t ring[RingSize] {};
};

struct SharedReceiverTable
{
    std::atomic<std::uint32_t> changeCounter { 0 };
    std::atomic<std::uint32_t> activeCount { 0 };
    ReceiverSlot slots[NumSlots];
};

// The layout other processes rely on, proven here rather than trusted.
static_assert (std::atomic<std::uint8_t>::is_always_lock_free);
static_assert (std::atomic<std::uint32_t>::is_always_lock_free);
static_assert (sizeof (std::atomic<std::uint8_t>) == sizeof (std::uint8_t));
static_assert (sizeof (std::atomic<std::uint32_t>) == sizeof (std::uint32_t));
static_assert (alignof (std::atomic<std::uint32_t>) == 4);

static_assert (std::is_standard_layout_v<ReceiverSlot>);
static_assert (std::is_standard_layout_v<SharedReceiverTable>);

static_assert (offsetof (ReceiverSlot, id) == 0);
static_assert (offsetof (ReceiverSlot, name) == 40);
static_assert (offsetof (ReceiverSlot, active) == 72);
static_assert (offsetof (ReceiverSlot, resetRequested) == 73);
static_assert (offsetof (ReceiverSlot, reserved) == 74);
static_assert (offsetof (ReceiverSlot, writePos) == 76);
static_assert (offsetof (ReceiverSlot, readPos) == 80);
static_assert (offsetof (ReceiverSlot, ring) == 84);
static_assert (sizeof (ReceiverSlot) == 4180);

static_assert (offsetof (SharedReceiverTable, changeCounter) == 0);
static_assert (offsetof (SharedReceiverTable, activeCount) == 4);
static_assert (offsetof (SharedReceiverTable, slots) == 8);
static_assert (sizeof (SharedReceiverTable) == TableFileSize);

} // namespace keyferry

// The file's integers are little-endian and are used in place.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
 #error "receivers.dat is little-endian and is used in place: a big-endian host cannot share it"
#endif
