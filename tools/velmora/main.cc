// velmora: the command-line program of the print system.
#include <cstdio>

int main(int argc, char** argv) {
  std::fprintf(stderr, "usage: velmora COMMAND [ARGS]\n");
  return 2;
}
