#pragma once

#include <QString>

// A device's name as it arrives in a Presence or Hello, made fit to keep and to show: the
// window lists it next to our own controls, so it must neither run on forever, nor break
// lines, nor turn the text around it backwards.
namespace PeerName {

// Characters (code points, never half a surrogate pair) a kept name holds at most.
constexpr int maxLength = 64;

// The first maxLength characters of the received name, with every control character, line
// or paragraph separator and bidirectional embedding, override or isolate replaced by
// U+FFFD. An empty name stays empty.
QString sanitized(const QString &received);

} // namespace PeerName
