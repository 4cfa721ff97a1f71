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

} // namespace
} // namespace velmar
