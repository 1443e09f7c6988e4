// Writes the station's sample data files into a program folder.
#include <cstdio>
#include <string>

#include "sim/SampleData.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PROGRAM_FOLDER\n", argv[0]);
    return 2;
  }
  std::string error;
  if (!qk::WriteSampleData(argv[1], &error)) {
    std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
    return 1;
  }
  return 0;
}
