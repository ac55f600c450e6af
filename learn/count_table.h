#pragma once
// The store's token counts in memory: an open-addressed table keyed by a
// 64-bit hash of the token, so judging a token costs one probe into one
// array. Two tokens of one store sharing a 64-bit hash would share counts;
// among a few hundred thousand tokens that happens with a probability of
// about one in ten million.
#include <cstdint>
#include <string_view>
#include <vector>

#include "learn/token_combiner.h"

namespace brevan {

uint64_t TokenHash(std::string_view token);

class CountTable {
 public:
  void Clear();
  size_t size() const { return size_; }
  // The counts of a token (zero when absent).
  TokenCounts Find(uint64_t hash) const;
  // Sets the counts; zero counts remove the token.
  void Set(uint64_t hash, TokenCounts counts);

 private:
  struct Slot {
    uint64_t key = 0;  // 0: empty
    TokenCounts counts;
  };
  static uint64_t Key(uint64_t hash) { return hash ? hash : 1; }
  size_t SlotOf(uint64_t key) const;
  void Grow();

  std::vector<Slot> slots_;
  size_t size_ = 0;
};

}  // namespace brevan
