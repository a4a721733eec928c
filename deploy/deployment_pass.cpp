#include "deploy/deployment_pass.h"

#include "deploy/manifest.h"
#include "deploy/payload_writer.h"
#include "deploy/registration.h"
#include "support/run_error.h"
#include "platform/scoped_flag.h"

namespace ttu::deploy {
namespace {

constexpr const char* kRegisterFlag = "S";
constexpr const char* kWarningTitle = "Attenzione";

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

// A registration that only the prefix's own Wine may make is said once a
// run; the item stays pending, as for any failure.
void DeploymentPass::Register(const std::string& folder, int32_t j) {
  const auto at = static_cast<std::size_t>(j);
  try {
    RegisterComponent(folder, tables_.FileName[at], tables_.ItemState[at][1], s_.launcher);
  } catch (const RunError& e) {
    if (e.Number() == kErrPrefixNeedsItsWine && !told_prefix_wine_) {
      told_prefix_wine_ = true;
      s_.dialogs.MessageBox(e.Description(), platform::kStyleCritical, std::string(kWarningTitle));
    }
    throw;
  }
}

void DeploymentPass::DeployItem(int32_t j) {
  const auto at = static_cast<std::size_t>(j);
  ReadDescriptor(tables_, j, s_.resources);
  const std::string folder = Folder(j);
  // An unresolved folder is a failure of the item: writing the bare name into
  // the current folder would report success for a product that got nothing.
  if (folder.empty()) throw RunError::Of(kErrPathNotFound);
  std::string target = folder;
  target += tables_.FileName[at];  // folder and name joined with nothing between
  WritePayload(s_.files, target, s_.resources, j);
  if (tables_.ItemState[at][0] == kRegisterFlag) {
    Register(folder, j);
  }
  tables_.ItemState[at][0] = std::string(kDoneMark);  // (a move: GCC 12 misreads the char* copy)
}

bool DeploymentPass::AggiornaFile() {
  if (running_) return false;
  ScopedFlag running(running_);
  try {
    const int32_t bound = tables_.LastIndex;
    for (int32_t j = 0; j <= bound; ++j) {
      if (!tables_.IsDone(j)) DeployItem(j);
    }
  } catch (const std::exception&) {
    return false;  // abandoned silently; the failing item stays pending
  }
  s_.dialogs.MessageBox("Aggiornamento terminato!", platform::kStyleInformation, std::string("Kelmo S.r.l."));
  return true;
}

}  // namespace ttu::deploy
