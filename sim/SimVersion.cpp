namespace hylo::sim {
const char* SimVersion() { return "0.1"; }
}  // namespace hylo::sim
