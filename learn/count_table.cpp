#include "learn/count_table.h"

#include <functional>

namespace brevan {

uint64_t TokenHash(std::string_view token) { return std::hash<std::string_view>()(token); }

void CountTable::Clear() {
  slots_.clear();
  size_ = 0;
}

size_t CountTable::SlotOf(uint64_t key) const {
  const size_t mask = slots_.size() - 1;
  // The low bits pick the slot; mixing first keeps a weak hash from
  // bunching up.
  size_t slot = static_cast<size_t>((key * 0x9E3779B97F4A7C15ULL) >> 20) & mask;
  while (slots_[slot].key != 0 && slots_[slot].key != key) slot = (slot + 1) & mask;
  return slot;
}

TokenCounts CountTable::Find(uint64_t hash) const {
  if (slots_.empty()) return {};
  const Slot& slot = slots_[SlotOf(Key(hash))];
  return slot.key ? slot.counts : TokenCounts{};
}

void CountTable::Set(uint64_t hash, TokenCounts counts) {
  const uint64_t key = Key(hash);
  const bool remove = counts.Junk == 0 && counts.Good == 0;
  if (slots_.empty()) {
    if (remove) return;
    slots_.resize(1024);
  }
  size_t slot = SlotOf(key);
  if (slots_[slot].key == key) {
    if (!remove) {
      slots_[slot].counts = counts;
      return;
    }
    // Linear probing: the entries after the removed one move up where
    // their probe sequence allows, so no search stops early at a hole.
    const size_t mask = slots_.size() - 1;
    slots_[slot] = Slot{};
    --size_;
    for (size_t next = (slot + 1) & mask; slots_[next].key != 0; next = (next + 1) & mask) {
      const Slot moved = slots_[next];
      slots_[next] = Slot{};
      slots_[SlotOf(moved.key)] = moved;
    }
    return;
  }
  if (remove) return;
  slots_[slot] = Slot{key, counts};
  if (++size_ * 2 > slots_.size()) Grow();
}

void CountTable::Grow() {
  std::vector<Slot> old;
  old.swap(slots_);
  slots_.resize(old.size() * 2);
  for (const Slot& slot : old) {
    if (slot.key) slots_[SlotOf(slot.key)] = slot;
  }
}

}  // namespace brevan
