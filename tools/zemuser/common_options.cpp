#include "common_options.h"

#include <zemuser.h>

void AddCommonOptions(CLI::App& app, CommonOptions& options) {
    app.add_option("--trace", options.traceFile,
                   "Write the library's trace lines to FILE (emptied first)")
        ->type_name("FILE");
    app.add_option("--trace-level", options.traceLevel,
                   "Lowest level traced: 0 all lines (default), 2 errors only, 3 none")
        ->type_name("N");
    app.add_option("--proxy-user", options.proxyUser,
                   "User name for a proxy that asks for authentication")
        ->type_name("NAME");
    app.add_option("--proxy-password", options.proxyPassword,
                   "Password for a proxy that asks for authentication; - reads it from stdin")
        ->type_name("PASSWORD");
    app.add_flag("-q,--quiet", options.quiet, "Show no progress line");
}

void ApplyTraceOptions(const CommonOptions& options) {
    if (options.traceLevel) ZEMUser_SetTraceLevel(*options.traceLevel);
    if (!options.traceFile.empty()) ZEMUser_SetTraceFile(options.traceFile.c_str());
}

TransferHandleOwner BeginTransfer(const CommonOptions& options) {
    if (options.proxyUser || options.proxyPassword) {
        return TransferHandleOwner(ZEMTransferBeginV2(options.proxyUser.value_or("").c_str(),
                                                      options.proxyPassword.value_or("").c_str()));
    }
    return TransferHandleOwner(ZEMTransferBegin());
}
