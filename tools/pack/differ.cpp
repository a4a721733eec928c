#include "tools/pack/differ.h"

#include <divsufsort.h>

#include <algorithm>
#include <memory>
#include <new>
#include <tuple>

#include "support/delta_payload.h"

namespace ttu::pack {
namespace {

using Bytes = std::span<const uint8_t>;

// A match found with fewer than this many bytes more than the current
// alignment already gives is not worth a record of its own.
constexpr int64_t kWorthSwitching = 8;

int64_t CommonPrefix(Bytes a, Bytes b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t k = 0;
  while (k < n && a[k] == b[k]) ++k;
  return static_cast<int64_t>(k);
}

class SuffixIndex {
 public:
  explicit SuffixIndex(Bytes old) : old_(old), sa_(old.size() + 1) {
    if (!old.empty() && divsufsort(old.data(), sa_.data(), static_cast<saidx_t>(old.size())) != 0) {
      throw std::bad_alloc();
    }
    sa_.resize(old.size());
  }

  // The longest prefix of `text` found in the old file: its length, and where.
  std::pair<int64_t, int64_t> Longest(Bytes text) const {
    if (sa_.empty()) return {0, 0};
    std::size_t lo = 0, hi = sa_.size() - 1;
    while (hi - lo > 1) {  // the suffixes at lo and hi bracket the text
      const std::size_t mid = lo + (hi - lo) / 2;
      const Bytes suffix = old_.subspan(static_cast<std::size_t>(sa_[mid]));
      const int64_t common = CommonPrefix(suffix, text);
      const bool below = static_cast<std::size_t>(common) == std::min(suffix.size(), text.size())
                             ? suffix.size() < text.size()
                             : suffix[static_cast<std::size_t>(common)] < text[static_cast<std::size_t>(common)];
      (below ? lo : hi) = mid;
    }
    const int64_t at_lo = CommonPrefix(old_.subspan(static_cast<std::size_t>(sa_[lo])), text);
    const int64_t at_hi = CommonPrefix(old_.subspan(static_cast<std::size_t>(sa_[hi])), text);
    return at_lo >= at_hi ? std::pair{at_lo, int64_t{sa_[lo]}} : std::pair{at_hi, int64_t{sa_[hi]}};
  }

 private:
  Bytes old_;
  std::vector<saidx_t> sa_;
};

// Where each part of the new file is looked for: the index of the zone that
// holds the scan, made when the scan enters it (the previous one freed first).
class ZonedIndex {
 public:
  ZonedIndex(Bytes old, std::span<const Zone> zones) : old_(old), zones_(zones.begin(), zones.end()) {
    if (zones_.empty()) zones_.push_back({UINT64_MAX, 0, old.size()});
  }

  // The longest prefix of new[scan..] found in its zone's old range.
  std::pair<int64_t, int64_t> Longest(int64_t scan, Bytes text) {
    std::size_t k = current_;
    while (k + 1 < zones_.size() && zones_[k].new_end <= static_cast<uint64_t>(scan)) ++k;
    if (!index_ || k != current_) {
      index_.reset();
      current_ = k;
      const Zone& z = zones_[k];
      index_ = std::make_unique<SuffixIndex>(old_.subspan(z.old_from, z.old_to - z.old_from));
    }
    const auto [len, pos] = index_->Longest(text);
    return {len, pos + static_cast<int64_t>(zones_[current_].old_from)};
  }

 private:
  Bytes old_;
  std::vector<Zone> zones_;
  std::size_t current_ = 0;
  std::unique_ptr<SuffixIndex> index_;  // (not std::optional: GCC 12 warns wrongly of it)
};

// The bytes to add, as they come, into runs of zeros and of other bytes (see
// delta_payload.h); zeros to the end make no pair.
class RunSplitter {
 public:
  explicit RunSplitter(Differences& out) : out_(out) {}
  void Add(uint8_t b) {
    if (b != 0) {
      ++values_, out_.values.push_back(b);
      return;
    }
    if (values_ != 0) delta::AppendRun(out_.runs, zeros_, values_), zeros_ = values_ = 0;
    ++zeros_;
  }
  void Finish() {
    if (values_ != 0) delta::AppendRun(out_.runs, zeros_, values_), zeros_ = values_ = 0;
  }

 private:
  Differences& out_;
  uint64_t zeros_ = 0, values_ = 0;
};

}  // namespace

Differences Diff(Bytes old_file, Bytes new_file, std::span<const Zone> zones) {
  const auto m = static_cast<int64_t>(old_file.size()), n = static_cast<int64_t>(new_file.size());
  ZonedIndex index(old_file, zones);
  Differences out;
  RunSplitter diff(out);
  const auto old_at = [&](int64_t k) { return old_file[static_cast<std::size_t>(k)]; };
  const auto new_at = [&](int64_t k) { return new_file[static_cast<std::size_t>(k)]; };
  // The part of the new file from `last_scan` on is aligned with the old one
  // at `last_pos`: new[last_scan + k] goes with old[last_pos + k].
  int64_t scan = 0, len = 0, pos = 0, last_scan = 0, last_pos = 0, last_offset = 0;
  bool made_nothing = false;  // the last record only moved in the old file
  while (scan < n) {
    int64_t agreeing = 0;  // bytes the current alignment already gives in the match
    for (int64_t s = scan += len; scan < n; ++scan) {
      std::tie(len, pos) = index.Longest(scan, new_file.subspan(static_cast<std::size_t>(scan)));
      for (; s < scan + len; ++s) {
        if (s + last_offset < m && s + last_offset >= 0 && old_at(s + last_offset) == new_at(s)) ++agreeing;
      }
      if ((len == agreeing && len != 0) || len > agreeing + kWorthSwitching) break;
      if (scan + last_offset < m && scan + last_offset >= 0 && old_at(scan + last_offset) == new_at(scan)) --agreeing;
    }
    if (len == agreeing && scan != n) continue;  // the alignment goes on: nothing to record yet
    // Forward from the last alignment: as far as more bytes agree than not.
    int64_t forward = 0;
    for (int64_t k = 0, score = 0, best = 0; last_scan + k < scan && last_pos + k < m; ++k) {
      if (old_at(last_pos + k) == new_at(last_scan + k)) ++score;
      if (score * 2 - (k + 1) > best * 2 - forward) best = score, forward = k + 1;
    }
    // Backward from the new match, the same way.
    int64_t backward = 0;
    if (scan < n) {
      for (int64_t k = 1, score = 0, best = 0; scan >= last_scan + k && pos >= k; ++k) {
        if (old_at(pos - k) == new_at(scan - k)) ++score;
        if (score * 2 - k > best * 2 - backward) best = score, backward = k;
      }
    }
    // Where the two overlap, the split that keeps the most agreeing bytes.
    if (last_scan + forward > scan - backward) {
      const int64_t overlap = last_scan + forward - (scan - backward);
      int64_t score = 0, best = 0, cut = 0;
      for (int64_t k = 0; k < overlap; ++k) {
        if (new_at(last_scan + forward - overlap + k) == old_at(last_pos + forward - overlap + k)) ++score;
        if (new_at(scan - backward + k) == old_at(pos - backward + k)) --score;
        if (score > best) best = score, cut = k + 1;
      }
      forward += cut - overlap;
      backward -= cut;
    }
    for (int64_t k = 0; k < forward; ++k) {
      diff.Add(static_cast<uint8_t>(new_at(last_scan + k) - old_at(last_pos + k)));
    }
    const int64_t copied = (scan - backward) - (last_scan + forward);
    out.extra.insert(out.extra.end(), new_file.begin() + last_scan + forward, new_file.begin() + last_scan + forward + copied);
    const int64_t seek = (pos - backward) - (last_pos + forward);
    if (forward == 0 && copied == 0 && made_nothing) {
      // Two moves in a row are one: the updater refuses records that make
      // nothing one after another (they would bound no work).
      uint8_t* last = out.control.data() + out.control.size() - delta::kRecordSize;
      delta::Record merged = delta::GetRecord(last);
      out.control.resize(out.control.size() - delta::kRecordSize);
      merged.seek += seek;
      delta::AppendRecord(out.control, merged);
    } else {
      delta::AppendRecord(out.control, {static_cast<uint64_t>(forward), static_cast<uint64_t>(copied), seek});
    }
    made_nothing = forward == 0 && copied == 0;
    last_scan = scan - backward;
    last_pos = pos - backward;
    last_offset = pos - scan;
  }
  diff.Finish();
  return out;
}

}  // namespace ttu::pack
