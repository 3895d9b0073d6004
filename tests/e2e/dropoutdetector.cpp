#include "dropoutdetector.h"

#include <cmath>

DropoutDetector::DropoutDetector(double silenceLevel, std::size_t minFrames)
    : silenceLevel(silenceLevel), minFrames(minFrames)
{
}

void DropoutDetector::feed(const float *stereo, std::size_t frames)
{
    for (std::size_t i = 0; i < frames; ++i) {
        if (std::abs(stereo[2 * i]) < silenceLevel) {
            ++run;
            continue;
        }
        if (heardSound && run >= minFrames) {
            ++count;
            silent += run;
        }
        heardSound = true;
        run = 0;
    }
}
