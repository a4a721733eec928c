#include "tools/pack/differ.h"

#include <divsufsort.h>

#include <algorithm>
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

// The bytes to add as runs of zeros and of other bytes (see delta_payload.h).
void SplitDiff(std::span<const uint8_t> diff, Differences& out) {
  std::size_t k = 0;
  while (k < diff.size()) {
    const std::size_t zeros_from = k;
    while (k < diff.size() && diff[k] == 0) ++k;
    if (k == diff.size()) break;  // zeros to the end: no pair
    const std::size_t values_from = k;
    while (k < diff.size() && diff[k] != 0) ++k;
    delta::AppendRun(out.runs, values_from - zeros_from, k - values_from);
    out.values.insert(out.values.end(), diff.begin() + static_cast<std::ptrdiff_t>(values_from),
                      diff.begin() + static_cast<std::ptrdiff_t>(k));
  }
}

}  // namespace

Differences Diff(Bytes old_file, Bytes new_file) {
  const auto m = static_cast<int64_t>(old_file.size()), n = static_cast<int64_t>(new_file.size());
  const SuffixIndex index(old_file);
  Differences out;
  std::vector<uint8_t> diff;
  const auto old_at = [&](int64_t k) { return old_file[static_cast<std::size_t>(k)]; };
  const auto new_at = [&](int64_t k) { return new_file[static_cast<std::size_t>(k)]; };
  // The part of the new file from `last_scan` on is aligned with the old one
  // at `last_pos`: new[last_scan + k] goes with old[last_pos + k].
  int64_t scan = 0, len = 0, pos = 0, last_scan = 0, last_pos = 0, last_offset = 0;
  bool made_nothing = false;  // the last record only moved in the old file
  while (scan < n) {
    int64_t agreeing = 0;  // bytes the current alignment already gives in the match
    for (int64_t s = scan += len; scan < n; ++scan) {
      std::tie(len, pos) = index.Longest(new_file.subspan(static_cast<std::size_t>(scan)));
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
      diff.push_back(static_cast<uint8_t>(new_at(last_scan + k) - old_at(last_pos + k)));
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
  SplitDiff(diff, out);
  return out;
}

}  // namespace ttu::pack
