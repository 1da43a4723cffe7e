#include <gtest/gtest.h>

#include "fake/FakeSystem.h"
#include "launch/NavigationPage.h"

namespace {

// The home address is a build option: the cases hold for whichever one this
// build was configured with.
struct SourceCase {
    LaunchSource source;
    const wchar_t* suffix;
};

class NavigationAddressTable : public ::testing::TestWithParam<SourceCase> {};

TEST_P(NavigationAddressTable, OpensTaggedAddressWithOpenVerb) {
    FakeSystem sys;
    EXPECT_TRUE(OpenNavigationPage(sys, GetParam().source));
    // The address is the file to open, never a parameter of another program,
    // and the call has a single-threaded apartment without OLE1 DDE (flags
    // 2 | 4) of its own.
    EXPECT_EQ(sys.calls, (std::vector<std::wstring>{
                             L"CoInitializeEx 6",
                             std::wstring(L"ShellExecuteW open|") + NavigationHomeUrl +
                                 GetParam().suffix + L"|(null)|(null)|1",
                             L"CoUninitialize"}));
    EXPECT_EQ(sys.ShellExecuteApartmentFaults(0x6), L"");
}

INSTANTIATE_TEST_SUITE_P(
    Sources, NavigationAddressTable,
    ::testing::Values(SourceCase{1, L"?f=aloneicon&desk"}, SourceCase{2, L"?f=aloneicon&task"},
                      SourceCase{3, L"?f=aloneicon&stmn"}, SourceCase{0, L""},
                      SourceCase{4, L""}, SourceCase{-1, L""}));

TEST(NavigationPage, OpensThePageEvenWhereCOMCannotBeInitialised) {
    for (os::HResult failure : {kRpcEChangedMode, kEOutOfMemory}) {
        FakeSystem sys;
        sys.coInitializeExResult = failure;
        EXPECT_TRUE(OpenNavigationPage(sys, 1)) << failure;
        EXPECT_EQ(sys.CallsStartingWith(L"ShellExecuteW open|").size(), 1u) << failure;
        EXPECT_TRUE(sys.CallsStartingWith(L"CoUninitialize").empty()) << failure;
    }
}

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
