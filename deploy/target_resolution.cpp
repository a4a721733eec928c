#include "deploy/target_resolution.h"

#include "support/run_error.h"
#include "support/text.h"

namespace ttu::deploy {
namespace {

constexpr const char* kAppPath = "<APPPATH>";
constexpr const char* kCommonPath = "<COMMONPATH>";
constexpr const char* kMakerFolder = "Kelmo";
constexpr const char* kSetupTitle = "Setup";
constexpr const char* kWarningTitle = "Attenzione";

struct Product {
  const char* word;
  const char* probe_file;
  const char* prompt;
};

constexpr Product kProducts[] = {
    {"Brenvia", "Brenvia.exe", "Specificare il percorso in cui sono presenti i file del programma Brenvia"},
    {"Tessiro", "Tessiro.exe", "Specificare il percorso in cui è stato installato Tessiro"},
};

constexpr const char* kCommonProbe = "Zelmora.dll";
constexpr const char* kCommonPrompt =
    "Specificare il percorso in cui sono presenti i file comuni Kelmo nel sistema.";

std::string WithBackslash(std::string folder) {
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return folder;
}

// Replaces the template's first `prefix_chars` characters, wherever that text
// occurs, by the folder found.
std::string Result(const std::string& t, std::size_t prefix_chars, const std::string& folder) {
  return text::ReplaceAll(t, text::Left(t, prefix_chars), folder);
}

}  // namespace

std::string TargetResolver::MakerRoot() {
  if (!locations_.RetrieveProgramFilesKelmoPath().empty()) {
    return WithBackslash(locations_.RetrieveProgramFilesKelmoPath());
  }
  return WithBackslash(locations_.RetrieveProgramFilesPath()) + kMakerFolder + "\\";
}

std::string TargetResolver::Probe(std::string candidate, const std::string& probe_file,
                                  const std::string& prompt) {
  while (!files_.FileExists(candidate + probe_file)) {
    const std::string answer = dialogs_.InputBox(prompt, kSetupTitle, candidate);
    if (answer.empty()) return "";
    candidate = WithBackslash(answer);
  }
  return candidate;
}

std::string TargetResolver::Resolve(const std::string& t) {
  const std::size_t app_len = text::Length(kAppPath);
  if (text::UpperAscii(text::Left(t, app_len)) == text::UpperAscii(kAppPath)) {
    const std::string root = MakerRoot();
    for (const Product& p : kProducts) {
      const std::size_t len = app_len + text::Length(p.word);
      if (text::UpperAscii(text::Left(t, len)) != text::UpperAscii(std::string(kAppPath) + p.word)) continue;
      const std::string folder = Probe(root + p.word + "\\", p.probe_file, p.prompt);
      return folder.empty() ? "" : Result(t, len + 1, folder);
    }
  } else if (text::Left(t, text::Length(kCommonPath)) == kCommonPath) {
    const std::string candidate = locations_.RetrieveCommonPath() + "\\" + kMakerFolder + "\\";
    const std::string folder = Probe(candidate, kCommonProbe, kCommonPrompt);
    return folder.empty() ? "" : Result(t, text::Length(kCommonPath) + text::Length(kMakerFolder) + 1, folder);
  }
  dialogs_.MessageBox("TargetDir non gestita! (" + t + ")", platform::kStyleCritical, kWarningTitle);
  return "";
}

std::string TargetResolver::GeneraPathDll(const std::string& target_template) {
  try {
    return Resolve(target_template);
  } catch (const std::exception&) {
    const RunError e = CurrentFailure();
    dialogs_.MessageBox("ERRORE -> TargetDir non gestita! (" + target_template + ")\r\nError " +
                            std::to_string(e.Number()) + " (" + e.Description() +
                            ") in procedure GeneraPathDll",
                        platform::kStyleCritical, kWarningTitle);
    return "";
  }
}

}  // namespace ttu::deploy
