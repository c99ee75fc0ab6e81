// The mixer's fixed tables. Each fact lives here once; code elsewhere derives
// from these.
#include "tables.h"

namespace tarnvale {

// Indexed by parameter: 4 x strip + kind.
const char* const kParameterNames[kNumParams] = {
    "Master Panpot", "Master Volume", "Master Send 1", "Master Send 2",
    "Ch.01 Panpot", "Ch.01 Volume", "Ch.01 Send 1", "Ch.01 Send 2",
    "Ch.02 Panpot", "Ch.02 Volume", "Ch.02 Send 1", "Ch.02 Send 2",
    "Ch.03 Panpot", "Ch.03 Volume", "Ch.03 Send 1", "Ch.03 Send 2",
    "Ch.04 Panpot", "Ch.04 Volume", "Ch.04 Send 1", "Ch.04 Send 2",
    "Ch.05 Panpot", "Ch.05 Volume", "Ch.05 Send 1", "Ch.05 Send 2",
    "Ch.06 Panpot", "Ch.06 Volume", "Ch.06 Send 1", "Ch.06 Send 2",
    "Ch.07 Panpot", "Ch.07 Volume", "Ch.07 Send 1", "Ch.07 Send 2",
    "Ch.08 Panpot", "Ch.08 Volume", "Ch.08 Send 1", "Ch.08 Send 2",
    "Ch.09 Panpot", "Ch.09 Volume", "Ch.09 Send 1", "Ch.09 Send 2",
    "Ch.10 Panpot", "Ch.10 Volume", "Ch.10 Send 1", "Ch.10 Send 2",
    "Ch.11 Panpot", "Ch.11 Volume", "Ch.11 Send 1", "Ch.11 Send 2",
    "Ch.12 Panpot", "Ch.12 Volume", "Ch.12 Send 1", "Ch.12 Send 2",
    "Ch.13 Panpot", "Ch.13 Volume", "Ch.13 Send 1", "Ch.13 Send 2",
    "Ch.14 Panpot", "Ch.14 Volume", "Ch.14 Send 1", "Ch.14 Send 2",
    "Ch.15 Panpot", "Ch.15 Volume", "Ch.15 Send 1", "Ch.15 Send 2",
    "Ch.16 Panpot", "Ch.16 Volume", "Ch.16 Send 1", "Ch.16 Send 2",
};

const char* const kInputPinLabels[kNumInputs] = {
    "01-1 Ch.01 L", "01-2 Ch.01 R",
    "02-1 Ch.02 L", "02-2 Ch.02 R",
    "03-1 Ch.03 L", "03-2 Ch.03 R",
    "04-1 Ch.04 L", "04-2 Ch.04 R",
    "05-1 Ch.05 L", "05-2 Ch.05 R",
    "06-1 Ch.06 L", "06-2 Ch.06 R",
    "07-1 Ch.07 L", "07-2 Ch.07 R",
    "08-1 Ch.08 L", "08-2 Ch.08 R",
    "09-1 Ch.09 L", "09-2 Ch.09 R",
    "10-1 Ch.10 L", "10-2 Ch.10 R",
    "11-1 Ch.11 L", "11-2 Ch.11 R",
    "12-1 Ch.12 L", "12-2 Ch.12 R",
    "13-1 Ch.13 L", "13-2 Ch.13 R",
    "14-1 Ch.14 L", "14-2 Ch.14 R",
    "15-1 Ch.15 L", "15-2 Ch.15 R",
    "16-1 Ch.16 L", "16-2 Ch.16 R",
};

const char* const kOutputPinLabels[kNumOutputs] = {
    "Output L", "Output R",
    "Send 1 L", "Send 1 R",
    "Send 2 L", "Send 2 R",
    "Ch.01 L", "Ch.01 R",
    "Ch.02 L", "Ch.02 R",
    "Ch.03 L", "Ch.03 R",
    "Ch.04 L", "Ch.04 R",
    "Ch.05 L", "Ch.05 R",
    "Ch.06 L", "Ch.06 R",
    "Ch.07 L", "Ch.07 R",
    "Ch.08 L", "Ch.08 R",
    "Ch.09 L", "Ch.09 R",
    "Ch.10 L", "Ch.10 R",
    "Ch.11 L", "Ch.11 R",
    "Ch.12 L", "Ch.12 R",
    "Ch.13 L", "Ch.13 R",
    "Ch.14 L", "Ch.14 R",
    "Ch.15 L", "Ch.15 R",
    "Ch.16 L", "Ch.16 R",
};

}  // namespace tarnvale
