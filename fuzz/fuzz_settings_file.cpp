// Arbitrary bytes as "Hylo.ini" or a session file: the document loads or is refused, every
// group takes what it can, and what is written back reads again as a settings document.
// Saved as a session and loaded again, it gives the same settings: nothing drifts from one
// session save and load to the next.
#include <cstdlib>
#include <string>

#include "FileFuzz.h"
#include "settings/HyloIni.h"
#include "settings/SettingsGroups.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const bool parses = hylo::HyloIni::Parses(text);
  hylo::HyloIni ini;
  const int loaded = ini.SettingsLoad(WriteFuzzFile("Hylo.ini", data, size));
  // A session is vetted with Parses before it is loaded: the two must agree.
  if (parses != (loaded == hylo::HyloIni::kLoaded)) std::abort();
  hylo::SettingsGroups groups(FuzzFile("data"), FuzzFile("program"));
  groups.LoadAll(ini);
  groups.SaveAll(ini);
  const std::string saved = ini.Text();
  if (!hylo::HyloIni::Parses(saved)) std::abort();

  const auto session = FuzzFile("session.ini");
  if (ini.SettingsWriteTo(session) != 0) std::abort();
  hylo::HyloIni again;
  if (again.SettingsLoad(session) != hylo::HyloIni::kLoaded) std::abort();
  hylo::SettingsGroups reloaded(FuzzFile("data"), FuzzFile("program"));
  reloaded.LoadAll(again);
  reloaded.SaveAll(again);
  if (again.Text() != saved) std::abort();
  return 0;
}
