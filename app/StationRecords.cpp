#include "app/Station.h"

namespace qk {

namespace {

std::string storeKey(const std::string& url, const std::string& logPath) { return url + "\n" + logPath; }

}  // namespace

void Station::setRecordStore(std::unique_ptr<RecordStore> store) {
  records_ = std::move(store);
  recordsKey_ = storeKey(recordsUrl_.empty() ? profile_.recordsUrl : recordsUrl_, profile_.logPath);
}

RecordStore* Station::openRecords(std::string* error) {
  const std::string& url = recordsUrl_.empty() ? profile_.recordsUrl : recordsUrl_;
  // A changed log folder or database (another profile loaded) opens anew.
  const std::string key = storeKey(url, profile_.logPath);
  if (!records_ || recordsKey_ != key) {
    records_ = OpenRecordStore(url, profile_.logPath, error);
    recordsKey_ = key;
    if (!records_) return nullptr;
  }
  if (!records_->check(error)) return nullptr;
  return records_.get();
}

}  // namespace qk
