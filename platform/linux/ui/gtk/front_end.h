// The GTK front end's parts (GTK itself is loaded at run time).
#pragma once

#include "platform/linux/ui/front_end.h"
#include "platform/linux/ui/gtk/api.h"

namespace ttu::platform {

std::unique_ptr<MainWindow> ShowGtkMainWindow(const WindowLayout& layout, WindowEvents events);
int RunGtkEventLoop();
Dialogs& GtkDialogs();
std::optional<std::size_t> GtkChoosePrefix(const std::vector<PrefixCandidate>& prefixes);

// The desktop's text resolution over 96 dpi (GTK applies the window scale
// itself): what lengths given at 96 dpi are multiplied by.
double GtkTextScale();

}  // namespace ttu::platform
