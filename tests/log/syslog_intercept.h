// Records the syslog calls of the library. The test program defines openlog, vsyslog and
// closelog and exports them; the library calls them through the dynamic symbol table, so
// these definitions take the place of the C library's and no syslog daemon is involved.
#pragma once

#include <string>
#include <vector>

namespace logtest {

struct SyslogRecord {
    std::vector<std::string> calls; // "openlog ident 3 24", "vsyslog 4 text", "closelog"
    const char *last_ident = nullptr;
};

SyslogRecord &syslog_record();

} // namespace logtest
