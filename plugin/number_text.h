// Number-to-text formatting behind the base's text helpers: pure functions
// writing a full, zero-terminated text that the helpers then bound.
#pragma once

#include <cstdint>

namespace numtext {

constexpr int kMaxText = 24;  // longest full text and its terminator

// Plain decimal in an eight-character budget of sign, digits, point and
// fraction; fraction digits are cut, never rounded. "Huge!" when the integer
// part does not fit the budget, "NaN" for a value that is not a number.
void formatFloat(float value, char (&out)[kMaxText]);

// Decimal integer; "Huge!" from 100000000 up.
void formatInt(int32_t value, char (&out)[kMaxText]);

// Nearest float to a double, infinite when beyond the float range, so that
// no conversion is ever undefined.
float toFloat(double value);

}  // namespace numtext
