// The console redirector: output collected whole and in order, drained after the program ends,
// exit codes, programs that cannot start, and a stop that does not wait for the program.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/console_redirector.h"

namespace {

TEST(ConsoleRedirectorTest, OutputArrivesWholeAndInOrderWithTheExitCode) {
  SyncRedirector redirector;
  int exit_code = -1;
  EXPECT_EQ(redirector.RunProgram("true", {}, &exit_code), "");
  EXPECT_EQ(exit_code, 0);

  // Longer than one 255-byte piece, on both output streams, with a final burst left in the pipe.
  std::string script = "i=0; while [ $i -lt 300 ]; do printf 'line %03d\\n' $i; i=$((i+1)); done; "
                       "echo to-error >&2; printf 'last'; exit 7";
  std::string output = redirector.RunProgram("sh", {"-c", script}, &exit_code);
  EXPECT_EQ(exit_code, 7);
  ASSERT_GT(output.size(), 255u * 3);
  EXPECT_EQ(output.substr(0, 9), "line 000\n");
  EXPECT_NE(output.find("line 299\nto-error\nlast"), std::string::npos);
  for (int i = 1; i < 300; ++i) {
    char expected[16];
    std::snprintf(expected, sizeof(expected), "line %03d", i);
    EXPECT_LT(output.find(expected, 0), output.size()) << expected;
  }
}

TEST(ConsoleRedirectorTest, ACommandLineIsSplitIntoWordsAndQuotesGroup) {
  SyncRedirector redirector;
  int exit_code = -1;
  EXPECT_EQ(redirector.RunAndCollect("printf \"%s|%s\" \"a b\" c", &exit_code), "a b|c");
  EXPECT_EQ(exit_code, 0);
}

TEST(ConsoleRedirectorTest, AProgramThatCannotStartIsReported) {
  SyncRedirector redirector;
  int exit_code = 0;
  std::string output = redirector.RunProgram("/nonexistent/program", {"x"}, &exit_code);
  EXPECT_EQ(exit_code, -1);
  EXPECT_EQ(output.rfind("Redirect console error: ", 0), 0u) << output;
}

// Keeps what arrives and lets the test close while the program still runs.
class RecordingRedirector : public CRedirector {
 public:
  std::string text;
  std::mutex mutex;

 protected:
  void Output(const std::string& piece) override {
    std::lock_guard<std::mutex> lock(mutex);
    text += piece;
  }
};

TEST(ConsoleRedirectorTest, CloseEndsTheReaderAndTheProgramThatStillRuns) {
  RecordingRedirector redirector;
  ASSERT_TRUE(redirector.Open(std::vector<std::string>{"sh", "-c", "echo started; exec sleep 600"}));
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> lock(redirector.mutex);
      if (!redirector.text.empty()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  redirector.Close();
  EXPECT_EQ(redirector.text, "started\n");
}

}  // namespace
