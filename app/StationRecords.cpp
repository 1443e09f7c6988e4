#include "app/Station.h"

namespace qk {

RecordStore* Station::openRecords(std::string* error) {
  const std::string& url = recordsUrl_.empty() ? profile_.recordsUrl : recordsUrl_;
  // A changed log folder or database (another profile loaded) opens anew.
  const std::string key = url + "\n" + profile_.logPath;
  if (!records_ || recordsKey_ != key) {
    records_ = OpenRecordStore(url, profile_.logPath, error);
    recordsKey_ = key;
    if (!records_) return nullptr;
  }
  if (!records_->check(error)) return nullptr;
  return records_.get();
}

}  // namespace qk
