#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("velorna-cli %s\n", VELORNA_VERSION);
    return 0;
  }
  std::fprintf(stderr, "usage: velorna-cli --version\n");
  return 2;
}
