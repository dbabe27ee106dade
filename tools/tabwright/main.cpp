#include <cstdio>

#include "tabwright.h"

int main(int argc, char** argv) {
  return tabwright::run(argc, argv, stdout);
}
