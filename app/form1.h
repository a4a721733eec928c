// The main window: its controls, and the state of an update run.
#pragma once

#include <cstdint>
#include <memory>

#include "deploy/item_tables.h"
#include "platform/dialogs.h"
#include "platform/main_window.h"

namespace ttu::app {

// The window's look, in pixels at 96 dpi (15 twips to a pixel).
platform::WindowLayout Form1Layout();

class Form1 {
 public:
  Form1();

  // Event handlers.
  void cmdAvviaConTimer_Click();
  void Timer_Timer();

  int32_t AttemptCount = 0;
  deploy::ItemTables tables;

 private:
  std::unique_ptr<platform::MainWindow> window_;
};

}  // namespace ttu::app
