#pragma once

namespace keyferry
{

// What a sending call did. Every failure leaves the table exactly as it was.
enum class SendResult
{
    ok,
    noReceivers,      // no table file (no receiver has run yet), or one of the wrong size
    slotOutOfRange,   // slot index not 0 ... 8
    slotNotHeld,      // no receiver holds the slot
    receiverChanged,  // the slot was released and claimed again since this link was made
    emptyMessage,     // zero bytes
    messageTooLarge,  // more than 256 bytes
    ringFull          // the receiver has not yet consumed enough to make room; try again later
};

// A short English description, for error messages.
const char* describe (SendResult result) noexcept;

} // namespace keyferry
