// hylo-cli: headless front end on the same core. Filled in by the CLI work.
#include <cstdio>
int main() {
  std::puts("hylo-cli: not built yet");
  return 0;
}
