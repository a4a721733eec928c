// Splitting a Windows command line into its program and arguments.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ttu::platform {

// The rules a Windows program's start-up code applies: blanks and tabs
// separate arguments; double quotes group; 2n backslashes before a quote give
// n backslashes and the quote groups, 2n+1 give n backslashes and a literal
// quote; other backslashes are literal; "" inside quotes is a literal quote.
// The program name (first argument) ends at the next quote or blank, with
// backslashes taken literally.
std::vector<std::string> SplitCommandLine(std::string_view line);

}  // namespace ttu::platform
