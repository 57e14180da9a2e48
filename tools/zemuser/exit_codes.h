// The exit statuses of the command-line host, as its --help lists them.
#pragma once

enum ExitCode : int {
    kExitOk = 0,
    kExitTransferFailed = 1,
    kExitUsage = 2,
    kExitHttpStatus = 3,   // answered, but not with a 2xx status
    kExitCancelled = 130,  // 128 + SIGINT, as shells report an interrupted command
};
