#pragma once

#include <juce_osc/juce_osc.h>

#include <optional>

// One UDP datagram as an OSC message or bundle, read by the framework's own OSC reader; none
// when it is not OSC. The framework's reader, in the version we build with, reads past the end
// of its string when an address is not valid text (a packet of any peer on the port could crash
// the tool), so a packet whose addresses are not plain printable ASCII, as OSC addresses are,
// is refused before it gets there. A MIDI-message argument ('m'), which that reader does not know,
// arrives as a blob of the message's bytes (the port byte dropped).
std::optional<juce::OSCBundle::Element> readOscPacket (const void* data, std::size_t size);

// Whether every address in the packet (in bundles too, however deeply nested) is printable
// ASCII. Walks only the sizes and addresses, never past 'size'; false for what it cannot walk.
bool oscAddressesArePrintable (const std::uint8_t* data, std::size_t size);
