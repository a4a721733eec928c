// Text for the deflate tests, the same on every system (Linux and the Windows
// unit tests under Wine).
#pragma once

#include <cstdint>
#include <string>

namespace ttu::test {

// At least `n` bytes of words with repeats near and far (past 512 bytes, so
// that deflate's window sizes matter), some bytes no word has and some runs,
// from a fixed generator.
inline std::string WordText(std::size_t n, uint32_t seed) {
  static const char* const kWords[] = {"Tessiro", "Brenvia", "Kelmo", "aggiornamento", "file", "di", "la", "un",
                                       "installazione", "cartella", "pacchetto", "registro", "\n", "  ", "0000"};
  std::string text;
  uint32_t state = seed;
  while (text.size() < n) {
    state = state * 1664525u + 1013904223u;
    const uint32_t pick = state >> 24;
    if (pick < 200) {
      text += kWords[pick % 15];
      text += ' ';
    } else if (pick < 240) {
      text += static_cast<char>(state >> 8);  // a byte no word has
    } else {
      text.append(8 + (state >> 8) % 64, static_cast<char>('a' + pick % 26));
    }
  }
  return text;
}

}  // namespace ttu::test
