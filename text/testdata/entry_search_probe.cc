// Run by the library-entry tests from a directory of its own, so that the
// program directory of the search order is one the tests control: sets the
// library directory to argv[1] (empty: none), calls init of the library
// named argv[2] through an entry and prints its answer.
#include <cstdio>

#include "text/library_entries.h"
#include "text/text_ops.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  setDllDirectory(Text(argv[1]));
  LibraryEntry<decltype(&::init)> entry(argv[2], "init");
  std::printf("%d\n", entry());
  releaseLibraryEntries();
  return 0;
}
