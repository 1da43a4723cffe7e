#include <gtest/gtest.h>

#include "fake/FakeSystem.h"
#include "launch/NavigationPage.h"

namespace {

struct SourceCase {
    LaunchSource source;
    const wchar_t* address;
};

class NavigationAddressTable : public ::testing::TestWithParam<SourceCase> {};

TEST_P(NavigationAddressTable, OpensTaggedAddressWithOpenVerb) {
    FakeSystem sys;
    EXPECT_TRUE(OpenNavigationPage(sys, GetParam().source));
    ASSERT_EQ(sys.calls.size(), 1u);
    // The address is the file to open, never a parameter of another program.
    EXPECT_EQ(sys.calls[0],
              std::wstring(L"ShellExecuteW open|") + GetParam().address + L"|(null)|(null)|1");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, NavigationAddressTable,
    ::testing::Values(SourceCase{1, L"https://www.lumora.example/?f=aloneicon&desk"},
                      SourceCase{2, L"https://www.lumora.example/?f=aloneicon&task"},
                      SourceCase{3, L"https://www.lumora.example/?f=aloneicon&stmn"},
                      SourceCase{0, L"https://www.lumora.example/"},
                      SourceCase{4, L"https://www.lumora.example/"},
                      SourceCase{-1, L"https://www.lumora.example/"}));

TEST(NavigationPage, ResultFollowsTheShellsAnswer) {
    struct {
        std::intptr_t shell;
        bool accepted;
    } cases[] = {{33, true}, {42, true}, {32, false}, {31, false}, {0, false}, {-5, false}};
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.shellExecuteResult = c.shell;
        EXPECT_EQ(OpenNavigationPage(sys, 1), c.accepted) << c.shell;
    }
}

}  // namespace
