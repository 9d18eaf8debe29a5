#include "audio/Isolator.h"

namespace zelvo {

namespace {
// Second-order Butterworth: q = 1/√2.
constexpr double butterworthQ = 0.70710678118654752;
} // namespace

Isolator::Isolator(double rate, double lowCross, double highCross)
    : lowLP1(Biquad::lowpass(lowCross, rate, butterworthQ))
    , lowLP2(lowLP1)
    , restHP1(Biquad::highpass(lowCross, rate, butterworthQ))
    , restHP2(restHP1)
    , midLP1(Biquad::lowpass(highCross, rate, butterworthQ))
    , midLP2(midLP1)
    , highHP1(Biquad::highpass(highCross, rate, butterworthQ))
    , highHP2(highHP1)
    , apLP1(midLP1)
    , apLP2(midLP1)
    , apHP1(highHP1)
    , apHP2(highHP1)
{
}

} // namespace zelvo
