#include <cstdio>

#include "dictimport.h"

int main(int argc, char** argv) {
  return dictimport::run(argc, argv, stdout);
}
