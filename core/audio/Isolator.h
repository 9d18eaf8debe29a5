#pragma once
// The three-band isolator of a mixer channel: a fourth-order crossover at two
// frequencies whose bands sum back to an all-pass, each band scaled by its gain.
// A plain value owned by the audio thread.
#include "dsp/Biquad.h"

namespace zelvo {

struct Isolator {
    // Butterworth sections at `lowCross` and `highCross` Hz (250 and 2500 in the
    // engine), state zeroed. Any thread.
    Isolator(double sampleRate, double lowCross, double highCross);

    // One sample through the crossover, each band times its linear gain. Owner's
    // thread.
    double tick(double x, double low, double mid, double high) noexcept
    {
        const double lowRaw = lowLP2.tick(lowLP1.tick(x));
        // The low band passes an all-pass at the high crossover so its phase
        // matches the two bands that were split there.
        const double lowBand = apLP2.tick(apLP1.tick(lowRaw)) + apHP2.tick(apHP1.tick(lowRaw));
        const double rest = restHP2.tick(restHP1.tick(x));
        const double midBand = midLP2.tick(midLP1.tick(rest));
        const double highBand = highHP2.tick(highHP1.tick(rest));
        return lowBand * low + midBand * mid + highBand * high;
    }
    // Whether every section's state is exactly zero, so that silence in gives
    // silence out, whatever the gains, and moves nothing. Owner's thread.
    bool atRest() const noexcept
    {
        return lowLP1.atRest() && lowLP2.atRest() && restHP1.atRest() && restHP2.atRest() && midLP1.atRest()
            && midLP2.atRest() && highHP1.atRest() && highHP2.atRest() && apLP1.atRest() && apLP2.atRest()
            && apHP1.atRest() && apHP2.atRest();
    }

    Biquad lowLP1, lowLP2, restHP1, restHP2, midLP1, midLP2, highHP1, highHP2, apLP1, apLP2, apHP1, apHP2;
};

} // namespace zelvo
