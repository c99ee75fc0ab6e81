#include "number_text.h"

#include <cfloat>
#include <cmath>

namespace numtext {

namespace {

constexpr int kBudget = 8;  // sign, integer digits, point and fraction

void copyText(const char* text, char (&out)[kMaxText]) {
    int i = 0;
    for (; i < kMaxText - 1 && text[i] != '\0'; ++i) out[i] = text[i];
    out[i] = '\0';
}

// The digit of a value in [0, 10): truncated, never out of the int range.
int digitOf(double x) {
    const double d = std::fmod(x, 10.0);
    return d > 0.0 ? static_cast<int>(d) : 0;
}

}  // namespace

float toFloat(double value) {
    if (value > static_cast<double>(FLT_MAX)) return INFINITY;
    if (value < -static_cast<double>(FLT_MAX)) return -INFINITY;
    return static_cast<float>(value);
}

void formatFloat(float value, char (&out)[kMaxText]) {
    double v = value;
    if (std::isnan(v)) return copyText("NaN", out);

    int used = 0;
    const bool negative = v < 0.0;
    if (negative) {
        v = -v;
        used = 1;
    }
    // The budget holds seven integer digits, six after a minus sign; an
    // integer part that needs more is not cut down to its lowest digits.
    if (v >= (negative ? 1000000.0 : 10000000.0)) return copyText("Huge!", out);

    char digits[kBudget + 1];
    int count = 0;
    double i = std::floor(v);
    digits[count++] = static_cast<char>('0' + digitOf(i));
    i /= 10.0;
    used += 2;
    while (i >= 1.0 && used < kBudget) {
        digits[count++] = static_cast<char>('0' + digitOf(i));
        i /= 10.0;
        ++used;
    }

    int pos = 0;
    if (negative) out[pos++] = '-';
    while (count > 0) out[pos++] = digits[--count];
    out[pos++] = '.';

    if (used < kBudget) {
        const int n = kBudget - used;
        double m = std::fmod(v, 1.0) * std::pow(10.0, n);
        for (int k = n - 1; k >= 0; --k) {
            int digit = 0;
            if (m > 0.0) {
                digit = digitOf(m);
                m /= 10.0;
            }
            out[pos + k] = static_cast<char>('0' + digit);
        }
        pos += n;
    }
    out[pos] = '\0';
}

void formatInt(int32_t value, char (&out)[kMaxText]) {
    if (value >= 100000000) return copyText("Huge!", out);
    int64_t v = value;  // wide enough to negate every int32
    int pos = 0;
    if (v < 0) {
        out[pos++] = '-';
        v = -v;
    }
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v > 0);
    while (count > 0) out[pos++] = digits[--count];
    out[pos] = '\0';
}

}  // namespace numtext
