// The host's controls of the trace log and its CPU usage poll.
#include <zemuser.h>

#include "diag/cpu_usage_meter.h"
#include "diag/trace_log.h"

using namespace zemuser;

extern "C" ZEM_API void ZEM_CALL ZEMUser_SetTraceFile(const char* path) {
    try {
        TraceLog::Instance().SetFile(path);
    } catch (...) {
        // Nothing may reach the host.
    }
}

extern "C" ZEM_API void ZEM_CALL ZEMUser_SetTraceLevel(int32_t level) {
    try {
        TraceLog::Instance().SetLevel(level);
    } catch (...) {
        // Nothing may reach the host.
    }
}

extern "C" ZEM_API int32_t ZEM_CALL GetCPUUsage(int32_t* processUsage) {
    try {
        int32_t systemUsage = 0;
        const int32_t process = CpuUsageMeter::Shared().Sample(&systemUsage);
        if (processUsage != nullptr) {
            *processUsage = process;
        }
        return systemUsage;
    } catch (...) {
        // The meter could not be created: report an idle machine.
        return 0;
    }
}
