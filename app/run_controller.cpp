// The run controller: when passes run, how long failures are retried, and
// when the process ends.
#include <climits>

#include "app/form1.h"
#include "deploy/manifest.h"
#include "support/run_error.h"
#include "support/scoped_flag.h"

namespace ttu::app {
namespace {

constexpr int32_t kQuestionAbove = 39;
constexpr const char* kLineBreak = "\r\n";

void AddToList(std::string& list, const std::string& name) {
  if (!list.empty()) list += ", ";
  list += name;
}

}  // namespace

std::string AbandonMessage(const deploy::ItemTables& t) {
  std::string updated, not_updated;
  for (int32_t j = 0; j <= t.LastIndex; ++j) {
    AddToList(t.IsDone(j) ? updated : not_updated, t.FileName[static_cast<std::size_t>(j)]);
  }
  std::string summary;
  if (!updated.empty()) summary = "Elenco file aggiornati: " + updated + kLineBreak;
  if (!summary.empty() && !not_updated.empty()) summary += kLineBreak;
  if (!not_updated.empty()) summary += "Elenco file NON aggiornati: " + not_updated + kLineBreak;
  if (!summary.empty()) summary += kLineBreak;
  return summary + "Aggiornamento interrotto!";
}

void Form1::cmdAvviaConTimer_Click() {
  if (pass_.Running()) return;  // pressed from inside a pass's dialog: dropped
  try {
    AttemptCount = 0;
    if (pass_.Press()) s_.dialogs.EndProcess();  // a damaged package writes nothing
    window_->SetTimerEnabled(true);
  } catch (const std::exception&) {
    const RunError e = CurrentFailure();
    s_.dialogs.MessageBox("Error " + std::to_string(e.Number()) + " (" + e.Description() +
                              ") in procedure cmdAvviaConTimer_Click of Form Form1",
                          platform::kStyleOk, std::nullopt);
  }
}

void Form1::Timer_Timer() {
  // A tick inside an earlier tick (its question, its pass, its yield) or inside
  // a press's pass is dropped: one pass at a time, one question at a time.
  if (tick_running_ || pass_.Running()) return;
  ScopedFlag running(tick_running_);
  try {
    if (AttemptCount > kQuestionAbove) {
      const int answer = s_.dialogs.MessageBox(
          "Interrompere?", platform::kStyleQuestion + platform::kStyleYesNo, std::string("Attenzione"));
      if (answer == platform::kResultYes) {
        window_->SetTimerEnabled(false);
        s_.dialogs.MessageBox(AbandonMessage(tables), platform::kStyleExclamation,
                              std::string("Aggiornamento"));
      } else {
        AttemptCount = 0;
      }
    }
    if (pass_.AggiornaFile()) {
      window_->SetTimerEnabled(false);
      s_.dialogs.EndProcess();
    }
  } catch (const std::exception&) {
    // Cleared without a word; the tick counts as unsuccessful.
  }
  if (AttemptCount < INT32_MAX) ++AttemptCount;
  window_->SetButtonCaption(std::to_string(AttemptCount));
  s_.dialogs.Yield();
}

}  // namespace ttu::app
