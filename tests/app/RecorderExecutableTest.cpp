// The recorder executable as a user starts it from a terminal.
#include "support/RunProcess.h"

#include <gtest/gtest.h>

namespace velmar {
namespace {

TEST(RecorderExecutable, HelpSaysWhatItIsAndOpensNoWindow) {
    for (const char* option : {"--help", "-h"}) {
        const test::ProcessResult result = test::RunProcess(VELMAR_RECORDER, {option});
        EXPECT_EQ(result.exitCode, 0) << option;
        EXPECT_NE(result.out.find("Usage: velmar-recorder"), std::string::npos) << result.out;
        EXPECT_NE(result.out.find("prm.tmp"), std::string::npos) << result.out;
        EXPECT_TRUE(result.err.empty()) << result.err;
    }
}

TEST(RecorderExecutable, ACommandLineItCannotUseIsRefusedWithoutAWindow) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--bogus"}, std::vector<std::string>{"a.prm", "b.prm"}}) {
        const test::ProcessResult result = test::RunProcess(VELMAR_RECORDER, arguments);
        EXPECT_EQ(result.exitCode, 2) << arguments.front();
        EXPECT_NE(result.err.find("Usage: velmar-recorder [FILE.prm]"), std::string::npos) << result.err;
    }
}

} // namespace
} // namespace velmar
