#include <gtest/gtest.h>

#include "fake/FakeSystem.h"
#include "sysinfo/ShellExecute.h"

namespace {

// COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE
constexpr std::uint32_t kApartmentNoDde = 0x6;

class ShellExecuteComAnswers : public ::testing::TestWithParam<ComAnswerCase> {};

// Only an initialisation that took is undone, and the shell is asked in
// either case.
TEST_P(ShellExecuteComAnswers, WrapTheShellCallAndUndoOnlyASuccess) {
    const ComAnswerCase& c = GetParam();
    FakeSystem sys;
    sys.coInitializeExResult = c.answer;
    sys.shellExecuteResult = 42;
    EXPECT_EQ(ShellExecuteInApartment(sys, L"open", L"C:\\a.exe", L"/x", L"C:\\", 5), 42)
        << c.what;
    std::vector<std::wstring> expected{L"CoInitializeEx 6",
                                       L"ShellExecuteW open|C:\\a.exe|/x|C:\\|5"};
    if (c.undone) expected.push_back(L"CoUninitialize");
    EXPECT_EQ(sys.calls, expected) << c.what;
    EXPECT_EQ(sys.coInitializeCount, 0) << c.what;
    EXPECT_EQ(sys.comDepth, 0) << c.what;
    EXPECT_FALSE(sys.uninitializedWithoutInit) << c.what;
    EXPECT_EQ(sys.ShellExecuteApartmentFaults(kApartmentNoDde).empty(), c.undone) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Answers, ShellExecuteComAnswers, ::testing::ValuesIn(kComAnswers));

TEST(ShellExecuteInApartment, GivesBackTheShellsAnswer) {
    for (std::intptr_t answer : {0, 2, 32, 33}) {
        FakeSystem sys;
        sys.shellExecuteResult = answer;
        EXPECT_EQ(ShellExecuteInApartment(sys, L"open", L"x", nullptr, nullptr, 1), answer);
    }
}

// A thread that already has COM keeps it after the call.
TEST(ShellExecuteInApartment, LeavesAnOuterInitialisationAlone) {
    FakeSystem sys;
    ASSERT_EQ(sys.CoInitialize(), os::kOk);
    ShellExecuteInApartment(sys, L"open", L"x", nullptr, nullptr, 1);
    EXPECT_EQ(sys.comInitsAtShellExecute,
              (std::vector<std::vector<std::uint32_t>>{{2u, kApartmentNoDde}}));
    EXPECT_EQ(sys.openComInits, std::vector<std::uint32_t>{2u});
    EXPECT_FALSE(sys.uninitializedWithoutInit);
}

}  // namespace
