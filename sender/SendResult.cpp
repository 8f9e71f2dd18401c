#include "SendResult.h"

namespace keyferry
{

const char* describe (SendResult result) noexcept
{
    switch (result)
    {
        case SendResult::ok: return "ok";
        case SendResult::noReceivers: return "no receivers: no table file (load Keyferry Receiver in a host first)";
        case SendResult::tableWrongSize: return "the table file is not 37628 bytes long";
        case SendResult::tableUnavailable: return "the table file cannot be opened or mapped";
        case SendResult::slotOutOfRange: return "slot index out of range";
        case SendResult::slotNotHeld: return "no receiver holds that slot";
        case SendResult::receiverChanged: return "the slot was claimed again by another receiver";
        case SendResult::emptyMessage: return "empty message";
        case SendResult::messageTooLarge: return "message longer than 256 bytes";
        case SendResult::notOneMessage: return "not one complete MIDI message";
        case SendResult::ringFull: return "ring full";
        case SendResult::noTransport: return "the host's transport gives no tempo and position, or did not start";
        case SendResult::transportStopped: return "the host's transport stopped";
    }
    return "unknown result";
}

} // namespace keyferry
