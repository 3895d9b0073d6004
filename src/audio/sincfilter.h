#pragma once

#include <vector>

// The interpolation filter both resamplers use: a Kaiser-windowed sinc in polyphase form.
// Row p holds the taps for an output that lies p / phases of an input frame past the frame
// at tap taps / 2 - 1; there are phases + 1 rows, the last being the first moved on by one
// input frame, so a position rounded or interpolated up never leaves the table. Every row
// sums to 1, so a constant level passes unchanged whatever the position.
//   cutoff: in cycles per input frame (0.5 is the input's Nyquist frequency)
//   attenuationDb: how far the window keeps the stopband down, which sets its shape
std::vector<float> windowedSincTable(int taps, int phases, double cutoff, double attenuationDb);

// The Kaiser window at x in [-1, 1] (0 outside), with shape beta.
double kaiserWindow(double x, double beta);

// Kaiser's estimate of the taps needed for that attenuation over a transition band of the
// given width (cycles per input frame), rounded up to an even count.
int kaiserTapCount(double attenuationDb, double transitionWidth);
