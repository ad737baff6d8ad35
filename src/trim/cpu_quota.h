// The CPU time a Linux cgroup allows, read from the files the kernel shows:
// plain text handling, built and tested everywhere.
#pragma once

#include <functional>
#include <string>

// Whole CPUs in "QUOTA PERIOD" (at least 1); INT_MAX for no quota ("max", or
// -1 in v1).
int quota_cpus(const std::string& quota_period);
// The tightest CPU quota of the cgroup a process is in (`proc_cgroup`, as
// /proc/self/cgroup reads) and of those above it, in cgroup v2 (cpu.max) or in
// v1's cpu controller; `read` gives a file's text, "" when it has none.
int cgroup_cpus(const std::string& proc_cgroup,
                const std::function<std::string(const std::string&)>& read);
