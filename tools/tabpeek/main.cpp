#include <cstdio>

#include "tabpeek.h"

int main(int argc, char** argv) {
  return tabpeek::run(argc, argv, stdout);
}
