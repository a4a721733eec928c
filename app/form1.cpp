#include "app/form1.h"

#include "app/tessiro-tiny-updater.xpm"

namespace ttu::app {

platform::WindowLayout Form1Layout() {
  platform::WindowLayout l;
  l.caption = platform::kApplicationTitle;
  l.client_width = 8355 / 15, l.client_height = 2055 / 15;
  l.left = 2190 / 15, l.top = 2700 / 15;
  l.button_caption = "Installa Dossaro";
  l.button_x = 225 / 15, l.button_y = 330 / 15;
  l.button_width = 7935 / 15, l.button_height = 1500 / 15;
  l.button_font_pixels = 13;  // 9.75 points at 96 dpi
  l.timer_interval_ms = 20000;
  l.icon_xpm = kTessiroIcon;
  return l;
}

Form1::Form1(const deploy::DeployServices& services, const WindowFactory& show_window)
    : s_(services), pass_(tables, services) {
  window_ = show_window(Form1Layout(), {[this] { cmdAvviaConTimer_Click(); }, [this] { Timer_Timer(); }});
}

}  // namespace ttu::app
