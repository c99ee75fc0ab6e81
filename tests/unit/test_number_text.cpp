#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "test_effect.h"

using unittest::TestEffect;

namespace {

struct FloatCase {
    float value;
    VstInt32 maxLen;
    const char* text;
};

class NumberText : public ::testing::Test {
protected:
    TestEffect effect{nullptr};
    // Runs a helper into a buffer pre-filled with 'x' and checks both the text
    // and that nothing past byte maxLen was written.
    template <typename F>
    std::string run(F helper, VstInt32 maxLen) {
        char buffer[64];
        std::memset(buffer, 'x', sizeof buffer);
        helper(buffer);
        for (VstInt32 i = maxLen + 1; i < 64; ++i) EXPECT_EQ(buffer[i], 'x') << "byte " << i << " was written";
        for (VstInt32 i = static_cast<VstInt32>(std::strlen(buffer)); i <= maxLen; ++i)
            EXPECT_EQ(buffer[i], '\0') << "byte " << i << " not zeroed";
        return buffer;
    }
};

TEST_F(NumberText, Float2StringCutsDigitsWithinTheEightCharacterBudget) {
    const FloatCase cases[] = {
        {0.0f, 8, "0.000000"},      {1.5f, 8, "1.500000"},       {0.7f, 8, "0.699999"},
        {3.14159f, 8, "3.141590"},  {12.345f, 8, "12.34500"},    {99.99f, 8, "99.98999"},
        {100.0f, 8, "100.0000"},    {1234567.0f, 8, "1234567."}, {9999999.0f, 8, "9999999."},
        {-0.25f, 8, "-0.25000"},    {-1.5f, 8, "-1.50000"},      {-999999.0f, 8, "-999999."},
        {100000000.0f, 8, "Huge!"}, {-10000000.0f, 8, "Huge!"},  {0.78125f, 5, "0.781"},
        {200.0f, 5, "200.0"},       {-1.5f, 6, "-1.500"},        {0.0f, 0, ""},
        {-0.0f, 8, "0.000000"},     {256.0f, 5, "256.0"},        {-1.28f, 5, "-1.27"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run([&](char* b) { effect.float2string(c.value, b, c.maxLen); }, c.maxLen), c.text)
            << "value " << c.value << " maxLen " << c.maxLen;
}

TEST_F(NumberText, Float2StringNeverCutsOffLeadingDigits) {
    // Integer parts too long for the budget read "Huge!", not their low digits.
    const FloatCase cases[] = {
        {12345678.0f, 8, "Huge!"},   {10000000.0f, 8, "Huge!"},     {99999999.0f, 8, "Huge!"},
        {-1234567.0f, 8, "Huge!"},   {-1000000.0f, 8, "Huge!"},     {-999999.5f, 8, "-999999."},
        {999999.5f, 8, "999999.5"}, {std::numeric_limits<float>::infinity(), 8, "Huge!"},
        {-std::numeric_limits<float>::infinity(), 8, "Huge!"},      {std::nanf(""), 8, "NaN"},
        {std::numeric_limits<float>::max(), 8, "Huge!"},            {std::numeric_limits<float>::denorm_min(), 8, "0.000000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run([&](char* b) { effect.float2string(c.value, b, c.maxLen); }, c.maxLen), c.text)
            << "value " << c.value;
}

TEST_F(NumberText, Int2String) {
    const struct {
        VstInt32 value;
        const char* text;
    } cases[] = {
        {5, "5"},          {10, "10"},          {-45678, "-45678"},       {99999999, "99999999"},
        {-5, "-5"},        {0, "0"},            {100000000, "Huge!"},     {2147483647, "Huge!"},
        {-100000000, "-100000000"},             {-999999999, "-999999999"},
        {-2147483647 - 1, "-2147483648"},       {1000, "1000"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(run([&](char* b) { effect.int2string(c.value, b, 16); }, 16), c.text) << c.value;
    EXPECT_EQ(run([&](char* b) { effect.int2string(-100000000, b, 5); }, 5), "-1000");
}

TEST_F(NumberText, DecibelsHertzAndMilliseconds) {
    auto dB = [&](float v) { return run([&](char* b) { effect.dB2string(v, b, 8); }, 8); };
    EXPECT_EQ(dB(0.0f), "-oo");
    EXPECT_EQ(dB(-1.0f), "-oo");
    EXPECT_EQ(dB(1.0f), "0.000000");
    EXPECT_EQ(dB(10.0f), "20.00000");
    EXPECT_EQ(dB(0.5f), "-6.02060");
    EXPECT_EQ(dB(2.0f), "6.020600");
    EXPECT_EQ(dB(0.25f), "-12.0412");
    EXPECT_EQ(dB(std::nanf("")), "NaN");
    EXPECT_EQ(dB(std::numeric_limits<float>::infinity()), "Huge!");

    auto Hz = [&](float v) { return run([&](char* b) { effect.Hz2string(v, b, 8); }, 8); };
    EXPECT_EQ(Hz(0.0f), "0.000000");
    EXPECT_EQ(Hz(-0.0f), "0.000000");
    EXPECT_EQ(Hz(441.0f), "100.0000");

    auto ms = [&](float v) { return run([&](char* b) { effect.ms2string(v, b, 8); }, 8); };
    EXPECT_EQ(ms(44100.0f), "1000.000");
    effect.setSampleRate(48000.0f);
    EXPECT_EQ(Hz(480.0f), "100.0000");
    EXPECT_EQ(ms(48.0f), "1.000000");
    effect.setSampleRate(0.0f);  // no test for a zero rate: must still write a text
    EXPECT_EQ(ms(1.0f), "Huge!");
    EXPECT_EQ(ms(0.0f), "NaN");
}

}  // namespace
