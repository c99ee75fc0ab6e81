// What a host shows: parameter names, values and units, pins, identity and
// capabilities, byte for byte.
#include <cstring>
#include <string>

#include "abi_fixture.h"

namespace {

using abitest::Abi;

// A buffer pre-filled with 0xFF, so untouched bytes can be told apart.
struct Buffer {
    Buffer() { std::memset(bytes, 0xFF, sizeof bytes); }
    bool untouched() const {
        for (unsigned char b : bytes)
            if (b != 0xFF) return false;
        return true;
    }
    std::string text() const { return reinterpret_cast<const char*>(bytes); }
    unsigned char bytes[128];
};

TEST_F(Abi, ParameterNames) {
    const struct {
        VstInt32 index;
        const char* name;
    } cases[] = {{0, "Master Panpot"}, {1, "Master Volume"}, {2, "Master Send 1"}, {3, "Master Send 2"},
                 {4, "Ch.01 Panpot"},  {37, "Ch.09 Volume"}, {42, "Ch.10 Send 1"}, {67, "Ch.16 Send 2"}};
    for (const auto& c : cases) {
        Buffer b;
        EXPECT_EQ(plugin->dispatch(effGetParamName, c.index, 0, b.bytes), 0);
        EXPECT_EQ(b.text(), c.name);
        EXPECT_EQ(b.bytes[std::strlen(c.name) + 1], 0xFF) << "only the name and its terminator are written";
    }
    for (VstInt32 index : {68, -1, 1000, -2147483647 - 1}) {
        Buffer b;
        plugin->dispatch(effGetParamName, index, 0, b.bytes);
        EXPECT_TRUE(b.untouched()) << index;
    }
}

TEST_F(Abi, ParameterLabels) {
    for (VstInt32 index : {1, 2, 3, 5, 67, 69, -1, -3, 1001}) {
        Buffer b;
        plugin->dispatch(effGetParamLabel, index, 0, b.bytes);
        EXPECT_EQ(b.text(), "%") << index;
        for (int i = 1; i <= 8; ++i) EXPECT_EQ(b.bytes[i], 0) << index;
        EXPECT_EQ(b.bytes[9], 0xFF) << index;
    }
    for (VstInt32 index : {0, 4, 64, 68, -4}) {
        Buffer b;
        plugin->dispatch(effGetParamLabel, index, 0, b.bytes);
        EXPECT_TRUE(b.untouched()) << index;
    }
}

TEST_F(Abi, ValuesOfAFreshEffect) {
    for (VstInt32 index = 0; index < abitest::kParams; ++index) {
        const char* expected = index % 4 == 0 ? "0.000" : (index < 4 || index % 4 == 1) ? "100.0" : "0.000";
        EXPECT_EQ(plugin->parameterDisplay(index), expected) << index;
    }
}

TEST_F(Abi, ValueTextsCutRatherThanRound) {
    const struct {
        VstInt32 index;
        float value;
        const char* text;
    } cases[] = {
        {0, 0.0f, "-1.000"},     {0, 1.0f, "1.000"},     {4, 0.25f, "-0.500"},   {8, 0.75f, "0.500"},
        {12, 0.4921875f, "-0.015"}, {16, 0.0078125f, "-0.984"}, {64, 0.5f, "0.000"},
        {1, 1.0f, "400.0"},      {2, 0.5f, "200.0"},     {3, 0.1f, "40.00"},     {1, 0.0078125f, "3.125"},
        {5, 1.0f, "128.0"},      {6, 0.5f, "64.00"},     {7, 0.3f, "38.40"},     {9, 0.7f, "89.59"},
        {10, 0.0078125f, "1.000"}, {11, 0.9921875f, "127.0"}, {65, 2.0f, "256.0"}, {66, -0.01f, "-1.27"},
        {13, 0.0f, "0.000"},
    };
    for (const auto& c : cases) {
        plugin->setParameter(c.index, c.value);
        Buffer b;
        plugin->dispatch(effGetParamDisplay, c.index, 0, b.bytes);
        EXPECT_EQ(b.text(), c.text) << "index " << c.index << " value " << c.value;
        const size_t limit = c.text[0] == '-' && c.index % 4 == 0 ? 6 : 5;
        EXPECT_EQ(b.bytes[limit], 0);
        EXPECT_EQ(b.bytes[limit + 1], 0xFF) << "index " << c.index;
    }
    for (VstInt32 index : {68, -1}) {
        Buffer b;
        plugin->dispatch(effGetParamDisplay, index, 0, b.bytes);
        EXPECT_TRUE(b.untouched());
    }
}

TEST_F(Abi, Identity) {
    Buffer name;
    EXPECT_EQ(plugin->dispatch(effGetEffectName, 0, 0, name.bytes), 1);
    EXPECT_EQ(name.text(), "Tarnvale");
    for (int i = 8; i <= 32; ++i) EXPECT_EQ(name.bytes[i], 0);
    EXPECT_EQ(name.bytes[33], 0xFF);

    Buffer product, vendor;
    EXPECT_EQ(plugin->dispatch(effGetProductString, 0, 0, product.bytes), 1);
    EXPECT_EQ(product.text(), "Tarnvale");
    EXPECT_EQ(product.bytes[64], 0);
    EXPECT_EQ(product.bytes[65], 0xFF);
    EXPECT_EQ(plugin->dispatch(effGetVendorString, 0, 0, vendor.bytes), 1);
    EXPECT_EQ(vendor.text().rfind("https://", 0), 0u) << vendor.text();
    EXPECT_LE(vendor.text().size(), 64u);
    EXPECT_EQ(vendor.bytes[65], 0xFF);

    EXPECT_EQ(plugin->dispatch(effGetVendorVersion), 100);
    host.setAnswer(audioMasterVersion, 2300);
    EXPECT_EQ(plugin->dispatch(effGetVstVersion), 2400);
    EXPECT_EQ(plugin->dispatch(effGetPlugCategory), 0);
}

TEST_F(Abi, CanDoMatchesExactlyAndRefusesEverythingElse) {
    EXPECT_EQ(plugin->canDo("receiveVstEvents"), 1);
    EXPECT_EQ(plugin->canDo("receiveVstMidiEvent"), 1);
    for (const char* text : {"receiveVstEventsX", "receiveVstEvent", "receiveVstMidiEvents", "receiveVstMidiEven",
                             "ReceiveVstEvents", "receivevstmidievent", "", "sendVstEvents", "bypass", "offline",
                             "receiveVstTimeInfo", "plugAsChannelInsert"})
        EXPECT_EQ(plugin->canDo(text), -1) << '"' << text << '"';
}

TEST_F(Abi, Pins) {
    const struct {
        bool input;
        VstInt32 index;
        const char* label;
    } cases[] = {
        {true, 0, "01-1 Ch.01 L"}, {true, 1, "01-2 Ch.01 R"}, {true, 18, "10-1 Ch.10 L"}, {true, 31, "16-2 Ch.16 R"},
        {false, 0, "Output L"},    {false, 1, "Output R"},    {false, 2, "Send 1 L"},     {false, 5, "Send 2 R"},
        {false, 6, "Ch.01 L"},     {false, 25, "Ch.10 R"},    {false, 37, "Ch.16 R"},
    };
    for (const auto& c : cases) {
        VstPinProperties pin;
        std::memset(&pin, 0xEE, sizeof pin);
        const VstInt32 opcode = c.input ? effGetInputProperties : effGetOutputProperties;
        EXPECT_EQ(plugin->dispatch(opcode, c.index, 0, &pin), 1);
        EXPECT_STREQ(pin.label, c.label);
        EXPECT_EQ(pin.flags, 3);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&pin);
        for (size_t i = std::strlen(c.label) + 1; i < 64; ++i) EXPECT_EQ(bytes[i], 0xEE) << "label byte " << i;
        for (size_t i = 68; i < sizeof pin; ++i) EXPECT_EQ(bytes[i], 0xEE) << "byte " << i;
    }
    // Every pin has a label and flags 3.
    for (VstInt32 i = 0; i < 32; ++i) {
        VstPinProperties pin{};
        EXPECT_TRUE(plugin->inputProperties(i, pin));
        EXPECT_EQ(pin.flags, 3);
    }
    for (VstInt32 i = 0; i < 38; ++i) {
        VstPinProperties pin{};
        EXPECT_TRUE(plugin->outputProperties(i, pin));
        EXPECT_EQ(pin.flags, 3);
    }
    // Past the last pin, and negative indices: refused, record untouched.
    for (const auto& refused : {std::pair<VstInt32, VstInt32>{effGetInputProperties, 32},
                                {effGetInputProperties, -1},
                                {effGetOutputProperties, 38},
                                {effGetOutputProperties, -2147483647 - 1}}) {
        VstPinProperties pin;
        std::memset(&pin, 0xEE, sizeof pin);
        EXPECT_EQ(plugin->dispatch(refused.first, refused.second, 0, &pin), 0);
        const auto* bytes = reinterpret_cast<const unsigned char*>(&pin);
        for (size_t i = 0; i < sizeof pin; ++i) ASSERT_EQ(bytes[i], 0xEE);
    }
}

TEST_F(Abi, ParameterStore) {
    const float defaults[4] = {0.5f, 0.78125f, 0.0f, 0.0f};
    EXPECT_EQ(plugin->getParameter(0), 0.5f);
    for (VstInt32 i = 1; i < 4; ++i) EXPECT_EQ(plugin->getParameter(i), 0.25f);
    for (VstInt32 i = 4; i < abitest::kParams; ++i) EXPECT_EQ(plugin->getParameter(i), defaults[i % 4]) << i;
    plugin->setParameter(68, 0.9f);
    plugin->setParameter(-1, 0.9f);
    for (VstInt32 index : {68, -1, 2147483647}) EXPECT_EQ(plugin->getParameter(index), 0.0f);
    plugin->setParameter(5, 2.0f);
    plugin->setParameter(4, -0.5f);
    EXPECT_EQ(plugin->getParameter(5), 2.0f);
    EXPECT_EQ(plugin->getParameter(4), -0.5f);
    for (float x : {0.0f, 0.123f, 1.0f, 7.5f, -3.0f}) {
        plugin->setParameter(67, x);
        EXPECT_EQ(plugin->getParameter(67), x);
    }
}

}  // namespace
