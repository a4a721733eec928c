#include "deploy/deployment_pass.h"

#include <algorithm>

#include "deploy/manifest.h"
#include "deploy/package_seal.h"
#include "deploy/payload_writer.h"
#include "deploy/registration.h"
#include "support/run_error.h"
#include "support/scoped_flag.h"
#include "support/text.h"

namespace ttu::deploy {
namespace {

constexpr const char* kRegisterFlag = "S";
constexpr const char* kWarningTitle = "Attenzione";
// What the press's check of the bases found, for the pass right after it.
constexpr char kBaseChecked = 1, kNoFolder = 2;
// Staged files are put in place at least this often: they hold open files
// and room on the disk beside the old ones.
constexpr std::size_t kMaxStaged = 512;
constexpr uint64_t kMaxStagedBytes = uint64_t{512} << 20;

}  // namespace

// The per-run cache: a template is resolved, and its user prompted, once per
// run. A free row is taken before any comparison. A template that resolves
// to no folder is not kept, so that a later pass resolves it again and finds
// a product installed (or a registry mended) in the meantime.
std::string DeploymentPass::Folder(int32_t j) {
  const std::string& t = tables_.TargetTemplate[static_cast<std::size_t>(j)];
  for (auto& row : tables_.PathCache) {
    if (row[0].empty()) {
      if (s_.installation && !s_.installation->Settle()) return "";
      std::string folder = resolver_.GeneraPathDll(t);
      if (folder.empty()) return folder;
      row[0] = t;
      row[1] = std::move(folder);
      return row[1];
    }
    if (row[0] == t) return row[1];
  }
  throw RunError::Of(kErrSubscript);  // cannot happen: one row per item
}

// What no retry can mend by itself is said once a run; the item stays
// pending, as for any failure.
void DeploymentPass::TellOnce(const RunError& e, bool& told) {
  if (told) return;
  told = true;
  s_.dialogs.MessageBox(e.Description(), platform::kStyleCritical, std::string(kWarningTitle));
}

// A registration that only the prefix's own Wine may make.
void DeploymentPass::Register(const std::string& folder, int32_t j) {
  const auto at = static_cast<std::size_t>(j);
  try {
    RegisterComponent(folder, tables_.FileName[at], tables_.ItemState[at][1], s_.launcher);
  } catch (const RunError& e) {
    if (e.Number() == kErrPrefixNeedsItsWine) TellOnce(e, told_prefix_wine_);
    throw;
  }
}

// Item j's file, its descriptor read. An unresolved folder is a failure of
// the item: writing the bare name into the current folder would report
// success for a product that got nothing.
std::string DeploymentPass::Target(int32_t j) {
  ReadDescriptor(tables_, j, s_.resources);
  // A folder not yet resolved may ask the person: what is staged goes in place first.
  const std::string& t = tables_.TargetTemplate[static_cast<std::size_t>(j)];
  if (std::none_of(tables_.PathCache.begin(), tables_.PathCache.end(), [&](const auto& row) { return row[0] == t; })) {
    CommitStaged();
  }
  const std::string folder = Folder(j);
  if (folder.empty()) throw RunError::Of(kErrPathNotFound);
  return folder + tables_.FileName[static_cast<std::size_t>(j)];  // joined with nothing between
}

void DeploymentPass::CheckBases() {
  base_checked_.assign(static_cast<std::size_t>(tables_.LastIndex + 1), 0);
  std::string wrong;
  for (int32_t j = 0; j <= tables_.LastIndex; ++j) {
    const auto id = kFirstItemId + static_cast<uint32_t>(j);
    if (tables_.IsDone(j) || FindFull(s_.resources, id)) continue;  // the file whole serves any installation
    const auto delta = FindDelta(s_.resources, id);
    if (!delta) continue;
    const delta::Header h = DeltaHeader(s_.resources, id, *delta);
    std::string target, difference;
    try {
      target = Target(j);
    } catch (const std::exception&) {
      if (damaged_) throw;  // the press's check, awaited before the folder was asked for
      // Asked for once a press: the pass that follows fails the item as it is.
      base_checked_[static_cast<std::size_t>(j)] = kNoFolder;
      continue;
    }
    try {
      difference = BaseDifference(s_.files, target, h);
    } catch (const std::exception&) {
      continue;  // cannot be read now: the pass meets it, and retries
    }
    if (difference.empty()) {
      base_checked_[static_cast<std::size_t>(j)] = kBaseChecked;
    } else {
      wrong += (wrong.empty() ? "" : "; ") + BaseNeeded(target, h, difference);
    }
  }
  if (!wrong.empty()) throw RunError::NotTheInstalledVersion(wrong);
}

bool DeploymentPass::Registers(int32_t j) const {
  return tables_.ItemState[static_cast<std::size_t>(j)][0] == kRegisterFlag;
}

void DeploymentPass::DeployItem(int32_t j) {
  const auto at = static_cast<std::size_t>(j);
  const char checked = at < base_checked_.size() ? base_checked_[at] : 0;
  if (checked == kNoFolder) throw RunError::Of(kErrPathNotFound);
  const std::string target = Target(j);
  // A file staged for an earlier item goes in place first: this item's file
  // replaces it, or is made from it.
  const std::string folded = text::FoldCase(target);  // Windows names a file in any letter case
  if (std::any_of(staged_.begin(), staged_.end(), [&](const Staged& s) { return text::FoldsTo(s.target, folded); })) {
    CommitStaged();
  }
  std::unique_ptr<platform::StagedFile> file;
  try {
    file = StagePayload(s_.files, target, s_.resources, j, groups_, checked == kBaseChecked);
  } catch (const RunError& e) {
    // An installed file that changed since the press checked it.
    if (e.Number() == kErrNotTheInstalledVersion) {
      CommitStaged();
      TellOnce(e, told_other_version_);
    }
    throw;
  }
  staged_bytes_ += file ? file->bytes : 0;
  staged_.push_back({j, target, std::move(file)});
  // A registration needs its file in place; the staged files are bounded.
  if (Registers(j) || staged_.size() >= kMaxStaged || staged_bytes_ >= kMaxStagedBytes) CommitStaged();
  if (Registers(j)) {
    Register(target.substr(0, target.size() - tables_.FileName[at].size()), j);
    tables_.ItemState[at][0] = std::string(kDoneMark);  // (a move: GCC 12 misreads the char* copy)
  }
}

// The staged files flushed together, then put in place in item order, each
// item marked done (one that registers, once registered); their folders
// flushed once. A file that cannot be put in place stops it there: the items
// before it are done, it and those after stay pending, their files gone.
void DeploymentPass::CommitStaged() {
  AwaitCheck();
  if (staged_.empty()) return;
  std::vector<Staged> staged = std::move(staged_);
  staged_.clear(), staged_bytes_ = 0;
  std::vector<platform::StagedFile*> files, committed;
  for (const auto& s : staged) {
    if (s.file) files.push_back(s.file.get());
  }
  if (!files.empty()) s_.files.Flush(files);
  try {
    for (const auto& s : staged) {
      if (s.file) s_.files.Commit(*s.file), committed.push_back(s.file.get());
      if (!Registers(s.j)) tables_.ItemState[static_cast<std::size_t>(s.j)][0] = std::string(kDoneMark);
    }
  } catch (...) {
    s_.files.FlushFolders(committed);
    throw;
  }
  s_.files.FlushFolders(committed);
}

// Waits for the press's check, if one is reading.
void DeploymentPass::AwaitCheck() {
  if (!check_) return;
  const std::unique_ptr<BackgroundCheck> check = std::move(check_);
  try {
    check->Wait(s_.resources);
  } catch (...) {
    damaged_ = true;
    throw;
  }
}

bool DeploymentPass::Press() {
  damaged_ = false;
  CheckSeal(s_.resources);  // a damaged count or descriptor decides nothing
  SizeTables(tables_, s_.resources);
  check_ = std::make_unique<BackgroundCheck>(tables_, s_.resources);
  try {
    CheckBases();
  } catch (const std::exception&) {
    AwaitCheck();  // a damaged package is said first
    throw;
  }
  return AggiornaFile();
}

bool DeploymentPass::AggiornaFile() {
  if (running_) return false;
  ScopedFlag running(running_);
  damaged_ = false;  // what an earlier press's check found is that press's
  // What the press checked holds for this pass only, and a group's frame is not
  // held through the wait for a retry.
  struct Forget {
    std::vector<char>& v;
    gpayload::GroupReader& groups;
    ~Forget() { v.clear(), groups.Close(); }
  } forget{base_checked_, groups_};
  try {
    const int32_t bound = tables_.LastIndex;
    for (int32_t j = 0; j <= bound; ++j) {
      if (!tables_.IsDone(j)) DeployItem(j);
    }
    CommitStaged();
  } catch (const std::exception&) {
    // Abandoned silently; the items staged before the failing one go in
    // place, unless the package is damaged: then nothing does, and the press
    // says why.
    std::exception_ptr damage = damaged_ ? std::current_exception() : nullptr;
    if (!damage) {
      try {
        CommitStaged();
      } catch (const std::exception&) {
        if (damaged_) damage = std::current_exception();
      }
    }
    staged_.clear(), staged_bytes_ = 0;
    if (damage) std::rethrow_exception(damage);
    return false;  // the failing item stays pending
  }
  s_.dialogs.MessageBox("Aggiornamento terminato!", platform::kStyleInformation, std::string("Kelmo S.r.l."));
  return true;
}

}  // namespace ttu::deploy
