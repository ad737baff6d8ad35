#include "trim/cpu_quota.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <string_view>

int quota_cpus(const std::string& quota_period) {
  char* end = nullptr;
  const long long quota = std::strtoll(quota_period.c_str(), &end, 10);
  const long long period = std::strtoll(end, nullptr, 10);
  if (end == quota_period.c_str() || quota <= 0 || period <= 0) return INT_MAX;
  return static_cast<int>(std::clamp<long long>(quota / period, 1, INT_MAX));
}

int cgroup_cpus(const std::string& proc_cgroup,
                const std::function<std::string(const std::string&)>& read) {
  int cpus = INT_MAX;
  for (size_t at = 0, eol; at < proc_cgroup.size(); at = eol + 1) {
    eol = std::min(proc_cgroup.find('\n', at), proc_cgroup.size());
    // "ID:CONTROLLERS:PATH"; v2's line has no controllers.
    const std::string line = proc_cgroup.substr(at, eol - at);
    const size_t c1 = line.find(':'), c2 = line.find(':', c1 + 1);
    if (c1 == std::string::npos || c2 == std::string::npos) continue;
    const std::string_view controllers = std::string_view(line).substr(c1 + 1, c2 - c1 - 1);
    const bool v2 = controllers.empty();
    bool cpu = false;
    for (size_t from = 0, comma; !v2 && from <= controllers.size(); from = comma + 1) {
      comma = std::min(controllers.find(',', from), controllers.size());
      cpu = cpu || controllers.substr(from, comma - from) == "cpu";
    }
    if (!v2 && !cpu) continue;
    const std::string root = v2 ? "/sys/fs/cgroup" : "/sys/fs/cgroup/cpu";
    // The path and each folder above it, up to the root ("").
    for (std::string dir = line.substr(c2 + 1);;) {
      if (dir == "/") dir.clear();
      const std::string at_dir = root + dir;
      cpus = std::min(cpus, quota_cpus(v2 ? read(at_dir + "/cpu.max")
                                          : read(at_dir + "/cpu.cfs_quota_us") + " " +
                                                read(at_dir + "/cpu.cfs_period_us")));
      const size_t slash = dir.rfind('/');
      if (slash == std::string::npos) break;
      dir.erase(slash);
    }
  }
  return cpus;
}
