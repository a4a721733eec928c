/* Prints the ANSI code page that Windows programs get, as Wine chooses it
 * from the Unix locale it runs under. scripts/gen-code-pages runs it under
 * each of the C library's locales. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  printf("%u\n", GetACP());
  return 0;
}
