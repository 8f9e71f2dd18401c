// What counts as one complete MIDI message, the only thing a peer may put into a ring message.

#include <sender/MessageCheck.h>
#include <sender/RingWriter.h>

#include <gtest/gtest.h>

#include <vector>

namespace
{
using keyferry::MessageFault;
using Bytes = std::vector<std::uint8_t>;

struct CheckCase
{
    const char* name;
    Bytes bytes;
    MessageFault fault;
    keyferry::SendResult validated;
};

void PrintTo (const CheckCase& testCase, std::ostream* stream) { *stream << testCase.name; }

class MessageCheck : public ::testing::TestWithParam<CheckCase>
{
};

Bytes sysexOf (std::size_t size)
{
    Bytes bytes (size, 0x42);
    bytes.front() = 0xf0;
    bytes.back() = 0xf7;
    return bytes;
}
} // namespace

TEST_P (MessageCheck, AcceptsExactlyOneCompleteEvent)
{
    const auto& param = GetParam();
    EXPECT_EQ (keyferry::checkMessage (param.bytes.data(), param.bytes.size()).fault, param.fault);
    EXPECT_EQ (keyferry::RingWriter::validate ({ 0, param.bytes.data(), param.bytes.size() }), param.validated);
}

INSTANTIATE_TEST_SUITE_P (
    Messages,
    MessageCheck,
    ::testing::Values (
        CheckCase { "NoteOn", { 0x90, 0x3c, 0x64 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "ProgramChange", { 0xc5, 0x10 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "SongPosition", { 0xf2, 0x01, 0x02 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "TuneRequest", { 0xf6 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "Clock", { 0xf8 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "SystemReset", { 0xff }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "ShortestSysex", { 0xf0, 0xf7 }, MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "LongestSysex", sysexOf (256), MessageFault::none, keyferry::SendResult::ok },
        CheckCase { "Empty", {}, MessageFault::empty, keyferry::SendResult::emptyMessage },
        CheckCase { "SysexTooLarge", sysexOf (257), MessageFault::tooLarge, keyferry::SendResult::messageTooLarge },
        CheckCase { "TwoEventsInOne", { 0x90, 0x3c, 0x64, 0x80, 0x3c, 0x00 }, MessageFault::tooLong, keyferry::SendResult::notOneMessage },
        CheckCase { "TwoByteNoteOn", { 0x90, 0x3c }, MessageFault::tooShort, keyferry::SendResult::notOneMessage },
        CheckCase { "StatusWhereDataBelongs", { 0x90, 0x3c, 0x80 }, MessageFault::statusInside, keyferry::SendResult::notOneMessage },
        CheckCase { "DataByteFirst", { 0x3c, 0x64 }, MessageFault::noStatusByte, keyferry::SendResult::notOneMessage },
        CheckCase { "EndOfExclusiveAlone", { 0xf7 }, MessageFault::notAStart, keyferry::SendResult::notOneMessage },
        CheckCase { "UndefinedStatus", { 0xf4 }, MessageFault::notAStart, keyferry::SendResult::notOneMessage },
        CheckCase { "SysexWithoutEnd", { 0xf0, 0x01, 0x02 }, MessageFault::unterminatedSysex, keyferry::SendResult::notOneMessage },
        CheckCase { "SysexWithAStatusInside", { 0xf0, 0x01, 0x90, 0xf7 }, MessageFault::statusInside, keyferry::SendResult::notOneMessage },
        CheckCase { "BytesAfterTheSysexEnd", { 0xf0, 0x01, 0xf7, 0x90, 0x3c, 0x64 }, MessageFault::tooLong, keyferry::SendResult::notOneMessage }),
    [] (const auto& testCase) { return std::string (testCase.param.name); });
