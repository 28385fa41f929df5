#include "platform/SerialPorts.h"

#include <libserialport.h>

#include <algorithm>

namespace hylo::platform {

std::vector<std::string> ListSerialPorts() {
  std::vector<std::string> names;
  sp_port** ports = nullptr;
  if (sp_list_ports(&ports) != SP_OK) return names;
  for (sp_port** p = ports; p && *p; ++p) {
    if (const char* name = sp_get_port_name(*p)) names.emplace_back(name);
  }
  sp_free_port_list(ports);
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace hylo::platform
