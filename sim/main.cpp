// hylo-sim: an instrument simulator. Filled in by the simulator work.
#include <cstdio>
int main() {
  std::puts("hylo-sim: not built yet");
  return 0;
}
