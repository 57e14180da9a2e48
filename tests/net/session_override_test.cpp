// The HTTP/1.1 settings override, observed from fresh processes (its first use reads the user's
// values once per process), through the settings store the tests point at a temporary folder.
#include <gtest/gtest.h>

#include <string>

#include "support/real_servers.h"

namespace {

using testing_support::TempDir;

// Runs the probe with `commands` and returns what it printed.
std::string Probe(const TempDir& settings, const std::string& commands) {
    return testing_support::RunCommand("ZEMUSER_SETTINGS_DIR='" + settings.path() +
                                       "' " ZEMUSER_BINARY_DIR "/tests/session_probe " + commands);
}

TEST(HttpVersionOverride, ValuesHeldOffWhileAnySessionLivesAndReadOnlyOnce) {
    TempDir settings;
    std::string output =
        Probe(settings,
              "set EnableHttp1_1 1 set ProxyHttp1.1 7 "
              "new print new del print del print "  // two sessions: restored after the second
              "set EnableHttp1_1 5 new print del print");  // third: writes 0 without reading
    EXPECT_EQ(output,
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=1 ProxyHttp1.1=7\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=1 ProxyHttp1.1=7\n");
}

TEST(HttpVersionOverride, AbsentValuesAreRestoredAsOne) {
    TempDir settings;
    EXPECT_EQ(Probe(settings, "print new print del print"),
              "EnableHttp1_1=absent ProxyHttp1.1=absent\n"
              "EnableHttp1_1=0 ProxyHttp1.1=0\n"
              "EnableHttp1_1=1 ProxyHttp1.1=1\n");
}

TEST(HttpVersionOverride, ExitRestoresEvenWithSessionsAlive) {
    TempDir settings;
    EXPECT_EQ(Probe(settings, "set EnableHttp1_1 3 set ProxyHttp1.1 4 new print exit"),
              "EnableHttp1_1=0 ProxyHttp1.1=0\n");
    EXPECT_EQ(Probe(settings, "print"), "EnableHttp1_1=3 ProxyHttp1.1=4\n");
}

TEST(HttpVersionOverride, ProcessWithoutSessionsWritesNothingAtExit) {
    TempDir settings;
    EXPECT_EQ(Probe(settings, "print exit"), "EnableHttp1_1=absent ProxyHttp1.1=absent\n");
    EXPECT_EQ(Probe(settings, "print"), "EnableHttp1_1=absent ProxyHttp1.1=absent\n");
}

TEST(HttpVersionOverride, ConcurrentSessionsLeaveCountAndValuesRight) {
    TempDir settings;
    EXPECT_EQ(Probe(settings, "set EnableHttp1_1 1 set ProxyHttp1.1 1 storm 8 300 count print"),
              "count=0\nEnableHttp1_1=1 ProxyHttp1.1=1\n");
}

}  // namespace
