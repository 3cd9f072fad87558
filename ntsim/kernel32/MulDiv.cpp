// MulDiv: the platform's scaling of one number by a fraction, which the
// dialog manager uses for every dialog-unit conversion.

#include "machine/ApiCall.h"
#include <windows.h>

#include <climits>

extern "C" int WINAPI MulDiv(int nNumber, int nNumerator, int nDenominator)
{
    ntsim::ApiCall call("MulDiv", nNumber, nNumerator, nDenominator);
    if (nDenominator == 0)
        return call.returns(-1);
    // The product in 64 bits, rounded half away from zero, as NT's does.
    int64_t product = static_cast<int64_t>(nNumber) * nNumerator;
    int64_t denominator = nDenominator;
    if (denominator < 0) {
        product = -product;
        denominator = -denominator;
    }
    int64_t half = denominator / 2;
    int64_t result = product >= 0 ? (product + half) / denominator : -((-product + half) / denominator);
    if (result > INT_MAX || result < INT_MIN)
        return call.returns(-1);
    return call.returns(static_cast<int>(result));
}
