#pragma once

namespace keyferry
{

// What a sending call did. Every failure leaves the table exactly as it was.
enum class SendResult
{
    ok,
    noReceivers,      // no table file: no receiver has run yet
    tableWrongSize,   // something at the table's path that is not a table of the right size
    tableUnavailable, // the table file could not be opened or mapped (SenderTable::openError says why)
    slotOutOfRange,   // slot index not 0 ... 8
    slotNotHeld,      // no receiver holds the slot
    receiverChanged,  // the slot was released and claimed again since this link was made
    emptyMessage,     // zero bytes
    messageTooLarge,  // more than 256 bytes
    notOneMessage,    // not exactly one complete MIDI event (checkMessage says what is wrong)
    ringFull,         // the receiver has not yet consumed enough to make room; try again later
    noTransport,      // following: the host gives no tempo and position, or its transport did not play
    transportStopped  // following: the host's transport stopped
};

// A short English description, for error messages.
const char* describe (SendResult result) noexcept;

} // namespace keyferry
