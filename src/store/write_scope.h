#pragma once
// Marks the datafile as being written for the readers of other threads (WriteGeneration is odd
// meanwhile); they read without waiting and retry what overlapped a write.
#include <atomic>
#include <cstdint>

#include "store/group_datafile.h"

namespace qv::store {

class WriteScope {
 public:
  explicit WriteScope(GroupDatafile& group) : generation_(*group.WriteGeneration) {
    generation_.fetch_add(1);
  }
  ~WriteScope() { generation_.fetch_add(1); }
  WriteScope(const WriteScope&) = delete;
  WriteScope& operator=(const WriteScope&) = delete;

 private:
  std::atomic<uint64_t>& generation_;
};

}  // namespace qv::store
