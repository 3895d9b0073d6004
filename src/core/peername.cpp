#include "core/peername.h"

namespace PeerName {

namespace {

bool mustBeReplaced(char32_t c)
{
    // C0, DEL and C1 controls; the line and paragraph separators; LRE, RLE, PDF, LRO, RLO;
    // LRI, RLI, FSI, PDI.
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

} // namespace

QString sanitized(const QString &received)
{
    QString kept;
    kept.reserve(std::min<qsizetype>(received.size(), 2 * maxLength));
    int characters = 0;
    for (qsizetype i = 0; i < received.size() && characters < maxLength; ++characters) {
        const QChar unit = received.at(i);
        if (unit.isHighSurrogate() && i + 1 < received.size() &&
            received.at(i + 1).isLowSurrogate()) {
            kept.append(unit).append(received.at(i + 1));
            i += 2;
            continue;
        }
        // A lone surrogate cannot come out of UTF-8 decoding, but is no character either.
        kept.append(mustBeReplaced(unit.unicode()) || unit.isSurrogate()
                        ? QChar(QChar::ReplacementCharacter)
                        : unit);
        ++i;
    }
    return kept;
}

} // namespace PeerName
