// What /proc tells of a process a test or a load script watches.
#pragma once

namespace hbt::testsupport {

long rss_kb(int pid);         // resident memory; -1 when the process is gone
double cpu_seconds(int pid);  // user and system time so far

}  // namespace hbt::testsupport
