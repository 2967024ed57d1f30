#include "log/syslog_intercept.h"

#include <stdarg.h>
#include <stdio.h>

namespace logtest {

SyslogRecord &syslog_record() {
    static SyslogRecord record;
    return record;
}

} // namespace logtest

extern "C" {

void openlog(const char *ident, int option, int facility) {
    auto &record = logtest::syslog_record();
    record.last_ident = ident;
    record.calls.push_back("openlog " + std::string(ident ? ident : "(null)") + " " +
                           std::to_string(option) + " " + std::to_string(facility));
}

void vsyslog(int priority, const char *format, va_list args) {
    char text[1024];
    vsnprintf(text, sizeof text, format, args);
    logtest::syslog_record().calls.push_back("vsyslog " + std::to_string(priority) + " " + text);
}

void closelog(void) {
    logtest::syslog_record().calls.push_back("closelog");
}

} // extern "C"
