#pragma once
// The fixed table of outcomes: every port's run ends with one code, an index
// into this table; the code decides what the slot, the logs and the reports say.
#include <cstdint>
#include <string>

namespace qk {

constexpr int kResultCodeCount = 53;
constexpr int kNoError = 0;
constexpr int kTimeoutCode = 26;
constexpr int kCheckLoaderBlockCode = 25;
constexpr int kBadBlockOverCode = 28;
// The capacity probe comes after the table: its test item and step-status slot
// (24, unused by the table's steps) and its own result code.
constexpr int kCapacityProbeItem = 24;
constexpr int kCapacityProbeCode = 53;

struct ResultCodeRow {
  const char* shortCode;
  const char* failureText;
  const char* stepName;
  const char* logTag;  // ends in a tab
};

// A code outside 0..52 and the probe's code (a stopped run's -1, a corrupt
// record) reads as an unknown failure, never as an index out of the table.
bool IsKnownResultCode(int code);
const ResultCodeRow& ResultCodeInfo(int code);
// The row that names test item `item` (1..24): its step name and log tag.
const ResultCodeRow& StepInfo(int item);

// "Fail", "----", "Pass"; a step cut off while running (2) prints as an empty text.
const char* StepStatusText(int status);

}  // namespace qk
