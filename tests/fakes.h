// Test doubles for the platform services.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/installation.h"
#include "platform/main_window.h"
#include "platform/process.h"
#include "support/payload_checksum.h"
#include "support/run_error.h"
#include "registry/install_locations.h"
#include "platform/resources.h"

namespace ttu::test {

// The number of the RunError that `f` raises, or 0 when it raises none.
inline int32_t RunErrorNumberOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const RunError& e) {
    return e.Number();
  }
  return 0;
}

// The checksum that tessiro-pack records for `payload`, as the resource holds it.
inline std::string RecordedChecksum(const std::string& payload) {
  checksum::Hasher h;
  h.Add({reinterpret_cast<const uint8_t*>(payload.data()), payload.size()});
  const auto d = h.Finish();
  return std::string(d.begin(), d.end());
}

// Resources held in memory: strings by identifier, CUSTOM payloads by identifier.
class FakeResources : public platform::Resources {
 public:
  std::map<uint32_t, std::string> strings;
  std::map<uint32_t, std::string> payloads;
  std::map<uint32_t, std::string> deltas;  // "DELTA" resources
  std::map<uint32_t, std::string> checksums;  // recorded by the packer
  std::map<std::pair<std::string, uint32_t>, std::string> others;  // by type ("ZPART", "ZGROUP"...)
  std::optional<std::string> seal;            // resource TTU_SEAL 100
  std::optional<std::string> damage;          // what the platform found
  std::vector<uint32_t> string_reads, payload_reads;

  std::optional<std::string> Damage() override { return damage; }

  std::optional<std::string> String(uint32_t id) override {
    string_reads.push_back(id);
    auto it = strings.find(id);
    if (it == strings.end()) return std::nullopt;
    return it->second;
  }
  std::optional<platform::Blob> Data(uint32_t id, const std::string& type) override {
    if (type == "TTU_SEAL") {
      if (id != 100 || !seal) return std::nullopt;
      return platform::Blob{"", seal->data(), 0, seal->size(), nullptr};
    }
    if (type == checksum::kResourceType) {
      auto it = checksums.find(id);
      if (it == checksums.end()) return std::nullopt;
      return platform::Blob{"", it->second.data(), 0, it->second.size(), nullptr};
    }
    if (type == "DELTA") {
      auto it = deltas.find(id);
      if (it == deltas.end()) return std::nullopt;
      return platform::Blob{"", it->second.data(), 0, it->second.size(), nullptr};
    }
    if (const auto it = others.find({type, id}); it != others.end()) {
      return platform::Blob{"", it->second.data(), 0, it->second.size(), nullptr};
    }
    if (type != "CUSTOM") return std::nullopt;
    payload_reads.push_back(id);
    auto it = payloads.find(id);
    if (it == payloads.end()) return std::nullopt;
    return platform::Blob{"", it->second.data(), 0, it->second.size(), nullptr};
  }
};

// Thrown by FakeDialogs::EndProcess, so a test sees the process end.
struct ProcessEnded {};

// Dialogs that record what they show and answer from a script.
class FakeDialogs : public platform::Dialogs {
 public:
  struct Shown {
    std::string kind;  // "message" or "input"
    std::string prompt;
    int style = 0;
    std::optional<std::string> title;
    std::string default_text;
  };
  std::vector<Shown> shown;
  std::deque<int> message_answers;          // default: OK, or Yes for a Yes/No box
  std::deque<std::string> input_answers;    // default: empty (Cancel)
  std::function<void()> while_open;         // runs inside every dialog, as a nested loop would
  int yields = 0, pointer_resets = 0;

  int MessageBox(const std::string& prompt, int style,
                 const std::optional<std::string>& title) override {
    shown.push_back({"message", prompt, style, title, ""});
    if (while_open) while_open();
    if (message_answers.empty()) return (style & 7) == 4 ? platform::kResultYes : platform::kResultOk;
    const int a = message_answers.front();
    message_answers.pop_front();
    return a;
  }
  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& default_text) override {
    shown.push_back({"input", prompt, 0, title, default_text});
    if (while_open) while_open();
    if (input_answers.empty()) return "";
    std::string a = input_answers.front();
    input_answers.pop_front();
    return a;
  }
  void Yield() override { ++yields; }
  [[noreturn]] void EndProcess() override { throw ProcessEnded{}; }
  void ResetMousePointer() override { ++pointer_resets; }
};

// True when `event` ended the process (FakeDialogs::EndProcess).
inline bool EndsProcess(const std::function<void()>& event) {
  try {
    event();
  } catch (const ProcessEnded&) {
    return true;
  }
  return false;
}

// The window's controls as the run controller sets them.
class FakeWindow : public platform::MainWindow {
 public:
  explicit FakeWindow(std::string caption = "") : caption(std::move(caption)) {}
  void SetTimerEnabled(bool on) override { timer_on = on; }
  bool TimerEnabled() const override { return timer_on; }
  void SetButtonCaption(const std::string& c) override { caption = c; }
  std::string ButtonCaption() const override { return caption; }
  bool timer_on = false;
  std::string caption;
};

// Files in memory, keyed by the Windows path text as given.
class FakeFileSystem : public platform::FileSystem {
 public:
  std::map<std::string, std::string> files;       // path -> bytes
  std::map<std::string, int32_t> fail_writes;     // path -> RunError number, when staged
  std::map<std::string, int32_t> fail_commits;    // path -> RunError number, when put in place
  std::vector<std::string> probes, writes;
  // Every step, in order: "stage P", "flush N", "commit P", "folders N", and
  // "unflushed commit P" for a file put in place before its bytes were flushed.
  std::vector<std::string> trace;
  int staged_now = 0;  // staged files not yet committed or gone

  bool FileExists(const std::string& path) override {
    probes.push_back(path);
    if (path.find('\0') != std::string::npos || path.find('*') != std::string::npos) {
      throw RunError(52, "Bad file name or number");
    }
    return files.count(path) > 0;
  }
  std::unique_ptr<platform::StagedFile> Stage(const std::string& path, const platform::Blob& payload) override {
    return StageWith(path, [&](const platform::ByteSink& put) {
      put(static_cast<const uint8_t*>(payload.data), static_cast<std::size_t>(payload.size));
    });
  }
  std::unique_ptr<platform::StagedFile> StageWith(const std::string& path, const platform::Producer& produce) override {
    writes.push_back(path);
    if (auto it = fail_writes.find(path); it != fail_writes.end()) throw RunError::Of(it->second);
    auto f = std::make_unique<Staged>(*this, path);
    produce([&](const uint8_t* bytes, std::size_t n) { f->made.append(reinterpret_cast<const char*>(bytes), n); });
    f->bytes = f->made.size();
    trace.push_back("stage " + path);
    return f;  // nothing is kept when it raises
  }
  void Flush(std::span<platform::StagedFile* const> staged) override {
    for (auto* f : staged) static_cast<Staged*>(f)->flushed = true;
    trace.push_back("flush " + std::to_string(staged.size()));
  }
  void Commit(platform::StagedFile& staged) override {
    auto& f = static_cast<Staged&>(staged);
    if (auto it = fail_commits.find(f.path); it != fail_commits.end()) throw RunError::Of(it->second);
    trace.push_back((f.flushed ? "commit " : "unflushed commit ") + f.path);
    files[f.path] = f.made;
  }
  void FlushFolders(std::span<platform::StagedFile* const> committed) override {
    trace.push_back("folders " + std::to_string(committed.size()));
  }
  std::unique_ptr<ByteSource> OpenFile(const std::string& path) override {
    const auto it = files.find(path);
    if (it == files.end()) return nullptr;
    const auto* p = reinterpret_cast<const uint8_t*>(it->second.data());
    return std::make_unique<MemorySource>(std::span<const uint8_t>(p, it->second.size()));
  }
  std::unique_ptr<ScratchFile> NewScratchFile(const std::string&) override { return std::make_unique<MemoryScratch>(); }

 private:
  struct Staged final : platform::StagedFile {
    Staged(FakeFileSystem& fs, std::string p) : fs(fs), path(std::move(p)) { ++fs.staged_now; }
    ~Staged() override { --fs.staged_now; }
    FakeFileSystem& fs;
    std::string path, made;
    bool flushed = false;
  };
};

// Records every launch; fails those whose command line contains `fail_on`.
class RecordingLauncher : public platform::Launcher {
 public:
  struct Launch_ {
    std::string command_line;
    int style;
  };
  std::vector<Launch_> launches;
  std::string fail_on;
  int32_t fail_with = kErrFileNotFound;

  void Launch(const std::string& command_line, int window_style) override {
    if (!fail_on.empty() && command_line.find(fail_on) != std::string::npos) {
      throw RunError::Of(fail_with);
    }
    launches.push_back({command_line, window_style});
  }
};

// Installation folders as a test sets them, counting the lookups.
// Settles as the platform's do, once for good; each time it is still asked,
// answers with the next answer (the last one once they run out).
class FakeInstallation : public platform::Installation {
 public:
  std::vector<bool> answers{true};
  int asks = 0;
  bool Settle() override {
    if (settled_) return true;
    settled_ = answers[std::min<std::size_t>(static_cast<std::size_t>(asks), answers.size() - 1)];
    ++asks;
    return settled_;
  }

 private:
  bool settled_ = false;
};

class FakeLocations : public registry::InstallLocations {
 public:
  std::string common, program_files, kelmo;
  int kelmo_calls = 0, program_files_calls = 0, common_calls = 0;
  std::string RetrieveCommonPath() override { return ++common_calls, common; }
  std::string RetrieveProgramFilesPath() override { return ++program_files_calls, program_files; }
  std::string RetrieveProgramFilesKelmoPath() override { return ++kelmo_calls, kelmo; }
};

}  // namespace ttu::test
