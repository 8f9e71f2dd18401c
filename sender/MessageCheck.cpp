#include "MessageCheck.h"

#include <table/SharedReceiverTable.h>

namespace keyferry
{
namespace
{
constexpr std::uint8_t sysexStart = 0xf0;
constexpr std::uint8_t sysexEnd = 0xf7;

bool isStatus (std::uint8_t byte) noexcept { return byte >= 0x80; }

// The length a status byte calls for; 0 where it starts no message of a fixed length.
std::size_t lengthOf (std::uint8_t status) noexcept
{
    switch (status & 0xf0)
    {
        case 0x80: case 0x90: case 0xa0: case 0xb0: case 0xe0: return 3;
        case 0xc0: case 0xd0: return 2;
        default: break;
    }

    switch (status)
    {
        case 0xf1: case 0xf3: return 2;
        case 0xf2: return 3;
        case 0xf6: return 1;
        default: return status >= 0xf8 ? 1 : 0;
    }
}
} // namespace

MessageCheck checkMessage (const std::uint8_t* data, std::size_t size) noexcept
{
    MessageCheck check;

    if (data == nullptr || size == 0)
        return check.fault = MessageFault::empty, check;

    if (size > MaxMessageSize)
        return check.fault = MessageFault::tooLarge, check;

    const auto status = data[0];

    if (! isStatus (status))
        return check.fault = MessageFault::noStatusByte, check;

    if (status == sysexStart)
    {
        for (std::size_t i = 1; i < size; ++i)
        {
            if (data[i] == sysexEnd)
            {
                if (i + 1 < size)
                    check.fault = MessageFault::tooLong, check.expectedSize = i + 1;
                return check;
            }

            if (isStatus (data[i]))
                return check.fault = MessageFault::statusInside, check.offendingIndex = i, check;
        }

        return check.fault = MessageFault::unterminatedSysex, check;
    }

    check.expectedSize = lengthOf (status);

    if (check.expectedSize == 0)
        check.fault = MessageFault::notAStart;
    else if (size < check.expectedSize)
        check.fault = MessageFault::tooShort;
    else if (size > check.expectedSize)
        check.fault = MessageFault::tooLong;
    else
        for (std::size_t i = 1; i < size; ++i)
            if (isStatus (data[i]))
                return check.fault = MessageFault::statusInside, check.offendingIndex = i, check;

    return check;
}

const char* describeStatus (std::uint8_t status) noexcept
{
    switch (status & 0xf0)
    {
        case 0x80: return "note-off";
        case 0x90: return "note-on";
        case 0xa0: return "key pressure";
        case 0xb0: return "control change";
        case 0xc0: return "program change";
        case 0xd0: return "channel pressure";
        case 0xe0: return "pitch bend";
        default: break;
    }

    switch (status)
    {
        case 0xf0: return "system exclusive";
        case 0xf1: return "time code quarter frame";
        case 0xf2: return "song position";
        case 0xf3: return "song select";
        case 0xf6: return "tune request";
        case 0xf7: return "end of exclusive";
        default: return status >= 0xf8 ? "real-time message" : status >= 0x80 ? "undefined status" : "data byte";
    }
}

} // namespace keyferry
