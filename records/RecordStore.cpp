#include "records/RecordStore.h"

#include <cstdio>
#include <random>

namespace qk {

std::unique_ptr<RecordStore> OpenRecordStore(const std::string& url, const std::string& logPath,
                                             std::string* error) {
  if (url.empty()) return OpenSqliteRecordStore(logPath + kRecordsFileName);
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0)
    return OpenPostgresRecordStore(url, logPath + kSpoolFileName);
  if (error) *error = "Unsupported record database: " + url;
  return nullptr;
}

std::string NewRecordKey() {
  std::random_device rd;
  char text[33];
  std::snprintf(text, sizeof text, "%08x%08x%08x%08x", rd(), rd(), rd(), rd());
  return text;
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
