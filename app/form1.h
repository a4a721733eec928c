// The main window: its controls, the state of an update run, and the two
// event handlers that make up the run controller.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "deploy/deployment_pass.h"
#include "deploy/item_tables.h"
#include "platform/dialogs.h"
#include "platform/main_window.h"

namespace ttu::app {

// The window's look, in pixels at 96 dpi (15 twips to a pixel).
platform::WindowLayout Form1Layout();

using WindowFactory = std::function<std::unique_ptr<platform::MainWindow>(
    const platform::WindowLayout&, platform::WindowEvents)>;

class Form1 {
 public:
  // Builds the window (timer off) and shows it.
  Form1(const deploy::DeployServices& services, const WindowFactory& show_window);

  // A press of the button: a fresh run, one pass, the end or the retry timer.
  void cmdAvviaConTimer_Click();
  // A tick of the retry timer: maybe the question, one pass, the count.
  void Timer_Timer();

  platform::MainWindow& window() { return *window_; }

  int32_t AttemptCount = 0;
  deploy::ItemTables tables;

 private:
  deploy::DeployServices s_;
  deploy::DeploymentPass pass_;
  std::unique_ptr<platform::MainWindow> window_;
  bool tick_running_ = false;
};

// The text shown when the user gives up: the updated and the not-updated
// files, then "Aggiornamento interrotto!".
std::string AbandonMessage(const deploy::ItemTables& tables);

}  // namespace ttu::app
