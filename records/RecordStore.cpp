#include "records/RecordStore.h"

namespace qk {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, const std::string& logPath,
                                             std::string* error) {
  if (url.empty()) return OpenSqliteRecordStore(logPath + kRecordsFileName);
  if (error) *error = "Unsupported record database: " + url;
  return nullptr;
}

std::string StepStatusField(const std::array<std::int32_t, 26>& steps) {
  std::string out;
  for (std::size_t n = 1; n < steps.size(); ++n) {
    if (n > 1) out += ',';
    out += std::to_string(steps[n]);
  }
  return out;
}

}  // namespace qk
