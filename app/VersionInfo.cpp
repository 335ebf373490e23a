#include "app/VersionInfo.h"

#include <cstdio>

CVersionInfo::CVersionInfo(const char* version) : m_text() {
    std::snprintf(m_text, sizeof m_text, "%.40s (%s %s) ", version != nullptr ? version : "00.80",
                  __DATE__, __TIME__);
}
