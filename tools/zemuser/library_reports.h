// The library's failure reports, caught so that a failed command can say why it failed.
//
// The library writes each report to its debugger output, a file named by ZEMUSER_DEBUG_OUTPUT
// ("-" for standard error): a line "[ URL ] what failed..." and, for an internet error, a line
// "[code, 0xhex] text". The host points that variable at a private in-memory file and, when
// the user had set the variable, passes every report on to the user's target after each
// transfer, so that it still receives the same text.
#pragma once

#include <optional>
#include <string>

class LibraryReports {
  public:
    // Must run before any library call and before other threads read the environment.
    LibraryReports();
    ~LibraryReports();
    LibraryReports(const LibraryReports&) = delete;
    LibraryReports& operator=(const LibraryReports&) = delete;

    // The text the library wrote since the last call, after passing it on to the user's own
    // target, if any. Empty when nothing could be caught.
    std::string TakeNew();

  private:
    int captureFd_ = -1;
    long long consumed_ = 0;
    std::optional<std::string> userTarget_;
};

// The reason of the last report in `reports`, for people: "No connection to the server could
// be made (12029)", or what failed in plain words when the report has no error code; nullopt
// when there is no report.
std::optional<std::string> LastFailureReason(const std::string& reports);
