#pragma once

#include "SharedReceiverTable.h"

#include <juce_audio_basics/juce_audio_basics.h>

// Audio thread. Drains one slot's ring by the ring rules into the buffer, in place in the
// mapping: loads writePos, then readPos, walks the messages between them and stores readPos once.
// Returns true exactly when it stored readPos. Events land in the buffer exactly as
// MidiBuffer::addEvent would put them, in linear time while positions do not go backwards.
//
// The walk always ends. It stops on landing at writePos, at a corrupt header (logged, readPos
// put just past the header), or where a step would pass writePos without landing on it (a
// writePos beyond the ring or inside a message, which no well-behaved peer publishes): that is
// logged the same way and readPos is put at writePos, so reader and peer agree again. It never
// reads past the writePos it loaded, and never writes to the ring.
bool drainRing (keyferry::ReceiverSlot& slot, juce::MidiBuffer& buffer);
