#include <cstdio>

int main() {
  std::puts("horodex");
  return 0;
}
