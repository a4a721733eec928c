/* Prints, as C++ source, how Windows converts between UTF-16 and each ANSI
 * code page. Single-byte code pages: the character of every byte 0x80..0xFF,
 * and every other character that WideCharToMultiByte maps to a byte ("best
 * fit"). Double-byte code pages: the character of every byte that is no lead
 * byte, the character of every lead byte with each trail byte 0x40..0xFE, and
 * the characters that WideCharToMultiByte does not map to the lowest byte
 * sequence that stands for them. A Windows program: scripts/gen-code-pages
 * runs it under Wine and writes support/code_page_tables.inc. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static const unsigned kSingleByte[] = {874, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};
static const unsigned kDoubleByte[] = {932, 936, 949, 950};
enum { kFirstTrail = 0x40, kLastTrail = 0xFE };

static void SingleByte(UINT cp) {
  WCHAR high[128];
  printf("constexpr char16_t kHigh%u[128] = {", cp);
  for (int b = 0x80; b < 0x100; ++b) {
    char ch = (char)b;
    WCHAR w = 0;
    MultiByteToWideChar(cp, 0, &ch, 1, &w, 1);
    high[b - 0x80] = w;
    printf("%s0x%04X", b == 0x80 ? "\n    " : (b - 0x80) % 8 ? ", " : ",\n    ", w);
  }
  printf("};\nconstexpr BestFit kBestFit%u[] = {", cp);
  int n = 0;
  for (unsigned u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    WCHAR w = (WCHAR)u;
    char out[4];
    BOOL used = FALSE;
    if (WideCharToMultiByte(cp, 0, &w, 1, out, 4, NULL, &used) != 1 || used) continue;
    const unsigned char b = (unsigned char)out[0];
    if (b < 0x80 ? b == u : high[b - 0x80] == w) continue; /* the byte's own character */
    printf("%s{0x%04X, 0x%02X}", n == 0 ? "\n    " : n % 6 ? ", " : ",\n    ", u, b);
    ++n;
  }
  printf("};\n");
}

static void Fail(UINT cp, const char* what, unsigned at) {
  fprintf(stderr, "code page %u: %s at 0x%04X\n", cp, what, at);
  exit(1);
}

/* One unit as a character of a u"" literal: printable characters as they are
 * (in UTF-8), others escaped. */
static void PrintUnit(WCHAR w) {
  if (w >= 0xA0 && !(w >= 0xE000 && w <= 0xF8FF) && w < 0xFFF0) {
    char utf8[4];
    const int n = WideCharToMultiByte(CP_UTF8, 0, &w, 1, utf8, sizeof utf8, NULL, NULL);
    fwrite(utf8, 1, (size_t)n, stdout);
  } else {
    printf("\\u%04X", w);
  }
}

static void DoubleByte(UINT cp) {
  CPINFOEXW info;
  if (!GetCPInfoExW(cp, 0, &info) || info.MaxCharSize != 2) Fail(cp, "not a double-byte code page", 0);
  if (info.DefaultChar[0] != '?' || info.DefaultChar[1]) Fail(cp, "a default character other than '?'", 0);
  printf("constexpr char16_t kDefault%u = 0x%04X;\n", cp, info.UnicodeDefaultChar);
  printf("constexpr char16_t kSingle%u[128] = {", cp); /* 0: a lead byte */
  static WCHAR forward[0x10000]; /* by byte sequence: b, or lead << 8 | trail */
  for (int b = 0x80; b < 0x100; ++b) {
    char ch = (char)b;
    WCHAR w = 0;
    if (!IsDBCSLeadByteEx(cp, (BYTE)b) && MultiByteToWideChar(cp, 0, &ch, 1, &w, 1) != 1) Fail(cp, "no character", b);
    forward[b] = w;
    printf("%s0x%04X", b == 0x80 ? "\n    " : (b - 0x80) % 8 ? ", " : ",\n    ", w);
  }
  printf("};\n// Lead bytes in ascending order, each with the characters of trail bytes 0x%02X..0x%02X;\n"
         "// a trail byte outside these gives kDefault%u.\nconstexpr char16_t kDouble%u[] =", kFirstTrail, kLastTrail, cp, cp);
  for (int lead = 0x80; lead < 0x100; ++lead) {
    if (!IsDBCSLeadByteEx(cp, (BYTE)lead)) continue;
    printf("\n    u\"");
    for (int trail = 1; trail < 0x100; ++trail) {
      const char pair[2] = {(char)lead, (char)trail};
      WCHAR w[2] = {0, 0};
      if (MultiByteToWideChar(cp, 0, pair, 2, w, 2) != 1) Fail(cp, "not one character", lead << 8 | trail);
      if (trail < kFirstTrail || trail > kLastTrail) {
        if (w[0] != info.UnicodeDefaultChar) Fail(cp, "a character outside the trail range", lead << 8 | trail);
        continue;
      }
      forward[lead << 8 | trail] = w[0];
      PrintUnit(w[0]);
    }
    printf("\"");
  }
  printf(";\n");
  /* The lowest byte sequence of each character, as the reader derives it. */
  static unsigned lowest[0x10000];
  for (unsigned u = 0; u < 0x10000; ++u) lowest[u] = 0;
  for (unsigned seq = 0x80; seq < 0x10000; ++seq) {
    if (seq >= 0x100 && (!IsDBCSLeadByteEx(cp, (BYTE)(seq >> 8)) || (seq & 0xFF) < kFirstTrail || (seq & 0xFF) > kLastTrail)) continue;
    if (seq < 0x100 && IsDBCSLeadByteEx(cp, (BYTE)seq)) continue;
    if (!lowest[forward[seq]]) lowest[forward[seq]] = seq;
  }
  printf("// Characters written otherwise than as their lowest byte sequence (a one-byte\n"
         "// sequence as 0x00XX), or as a best fit.\nconstexpr BestFit2 kBestFit%u[] = {", cp);
  int n = 0;
  for (unsigned u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u < 0xE000) continue;
    WCHAR w = (WCHAR)u;
    unsigned char out[4];
    BOOL used = FALSE;
    const int len = WideCharToMultiByte(cp, 0, &w, 1, (char*)out, 4, NULL, &used);
    if (len < 1 || len > 2) Fail(cp, "an unexpected conversion", u);
    const unsigned seq = used ? 0 : len == 1 ? out[0] : (unsigned)(out[0] << 8 | out[1]);
    if (seq == lowest[u]) continue;
    printf("%s{0x%04X, 0x%04X}", n == 0 ? "\n    " : n % 6 ? ", " : ",\n    ", u, seq);
    ++n;
  }
  printf("};\n");
}

int main(void) {
  printf("// Generated by scripts/gen-code-pages from what Windows (as Wine implements it)\n"
         "// converts; do not edit.\n");
  for (size_t c = 0; c < sizeof kSingleByte / sizeof kSingleByte[0]; ++c) SingleByte(kSingleByte[c]);
  for (size_t c = 0; c < sizeof kDoubleByte / sizeof kDoubleByte[0]; ++c) DoubleByte(kDoubleByte[c]);
  return 0;
}
