#include <gtest/gtest.h>

#include "fake/FakeSystem.h"
#include "fake/WindowsVersionCache.h"
#include "sysinfo/WindowsVersion.h"

namespace {

constexpr std::uint32_t k9x = 1;
constexpr std::uint32_t kNt = 2;
constexpr std::uint8_t kWorkstation = 1;
constexpr std::uint8_t kDomainController = 2;
constexpr std::uint8_t kServer = 3;
const std::wstring kKernel = L"C:\\Windows\\system32\\ntoskrnl.exe";

std::uint32_t Ms(std::uint32_t major, std::uint32_t minor) { return (major << 16) | minor; }

class WindowsVersionFixture : public ::testing::Test {
protected:
    void SetUp() override { ResetWindowsVersionCodeCache(); }
    void TearDown() override { ResetWindowsVersionCodeCache(); }
    FakeSystem sys;
};

struct RecordCase {
    const char* name;
    std::uint32_t platform, major, minor, build;
    std::uint8_t productType;
    WindowsVersionCode expected;
    bool readsKernel;
};

class RecordTable : public WindowsVersionFixture,
                    public ::testing::WithParamInterface<RecordCase> {};

TEST_P(RecordTable, Classifies) {
    const RecordCase& c = GetParam();
    sys.SetVersion(c.platform, c.major, c.minor, c.productType, c.build);
    sys.fileVersions[kKernel] = {Ms(6, 3), 9600};
    EXPECT_EQ(ClassifyWindowsVersion(sys), c.expected) << c.name;
    EXPECT_EQ(!sys.fileVersionReads.empty(), c.readsKernel) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Records, RecordTable,
    ::testing::Values(
        RecordCase{"95", k9x, 4, 0, 0x04000000, 0, 1, false},
        RecordCase{"98", k9x, 4, 10, 0x040A0000, 0, 1, false},
        RecordCase{"Me", k9x, 4, 90, 0x045A0000, 0, 2, false},
        RecordCase{"9x above Me", k9x, 4, 91, 0x045B0000, 0, 2, false},
        RecordCase{"9x build bits only", k9x, 4, 90, 0x0000FFFF, 0, 1, false},
        RecordCase{"Win32s platform", 0, 3, 10, 0, 0, 0, false},
        RecordCase{"unknown platform", 3, 6, 1, 0, kWorkstation, 0, false},
        RecordCase{"NT 3.51", kNt, 3, 51, 1057, kWorkstation, 4, false},
        RecordCase{"NT 4.0", kNt, 4, 0, 1381, kWorkstation, 4, false},
        RecordCase{"2000", kNt, 5, 0, 2195, kWorkstation, 3, false},
        RecordCase{"XP", kNt, 5, 1, 2600, kWorkstation, 6, false},
        RecordCase{"XP x64", kNt, 5, 2, 3790, kWorkstation, 5, false},
        RecordCase{"Server 2003", kNt, 5, 2, 3790, kServer, 5, false},
        RecordCase{"NT 5.3", kNt, 5, 3, 0, kWorkstation, 0, false},
        RecordCase{"Vista", kNt, 6, 0, 6002, kWorkstation, 7, false},
        RecordCase{"Server 2008", kNt, 6, 0, 6002, kServer, 9, false},
        RecordCase{"7", kNt, 6, 1, 7601, kWorkstation, 8, false},
        RecordCase{"Server 2008 R2 DC", kNt, 6, 1, 7601, kDomainController, 9, false},
        RecordCase{"8 and later", kNt, 6, 2, 9200, kWorkstation, 11, true},
        RecordCase{"NT 6.3 reported", kNt, 6, 3, 9600, kWorkstation, 11, true},
        RecordCase{"Server 2012", kNt, 6, 2, 9200, kServer, 0, false},
        RecordCase{"Server 2012 DC", kNt, 6, 2, 9200, kDomainController, 0, false},
        RecordCase{"NT 10.0 reported", kNt, 10, 0, 19045, kWorkstation, 11, true},
        RecordCase{"NT 10.0 server reported", kNt, 10, 0, 20348, kServer, 0, false},
        RecordCase{"NT 7.0 reported", kNt, 7, 0, 0, kWorkstation, 11, true}));

TEST_F(WindowsVersionFixture, ShortRecordInTheSameMemoryIsNoWorkstation) {
    for (std::uint32_t minor : {0u, 1u}) {
        FakeSystem s;
        s.SetVersion(kNt, 6, minor, kWorkstation);
        s.versionExSupported = false;
        EXPECT_EQ(ClassifyWindowsVersion(s), 9);
        EXPECT_EQ(s.versionRecordSizes, (std::vector<std::uint32_t>{284, 276}));
    }
}

TEST_F(WindowsVersionFixture, NoRecordGivesZeroAndIsAskedAgain) {
    sys.versionExSupported = false;
    sys.versionShortSupported = false;
    EXPECT_EQ(GetWindowsVersionCode(sys), 0);
    EXPECT_EQ(GetWindowsVersionCode(sys), 0);
    EXPECT_EQ(sys.versionRecordSizes, (std::vector<std::uint32_t>{284, 276, 284, 276}));
}

TEST_F(WindowsVersionFixture, NonZeroCodeIsWorkedOutOncePerProcess) {
    sys.SetVersion(kNt, 6, 2, kWorkstation);
    sys.fileVersions[kKernel] = {Ms(10, 0), 19045};
    EXPECT_EQ(GetWindowsVersionCode(sys), 12);
    sys.SetVersion(kNt, 5, 1, kWorkstation);
    EXPECT_EQ(GetWindowsVersionCode(sys), 12);
    EXPECT_EQ(GetWindowsVersionCode(sys), 12);
    EXPECT_EQ(sys.versionRecordSizes.size(), 1u);
    EXPECT_EQ(sys.fileVersionReads, std::vector<std::wstring>{kKernel});
}

TEST_F(WindowsVersionFixture, ZeroFromAServerIsAskedAgain) {
    sys.SetVersion(kNt, 6, 2, kServer);
    EXPECT_EQ(GetWindowsVersionCode(sys), 0);
    sys.SetVersion(kNt, 6, 1, kWorkstation);
    EXPECT_EQ(GetWindowsVersionCode(sys), 8);
    EXPECT_EQ(sys.versionRecordSizes.size(), 2u);
}

struct KernelCase {
    std::uint32_t major, minor, build;
    WindowsVersionCode expected;
};

class KernelTable : public WindowsVersionFixture,
                    public ::testing::WithParamInterface<KernelCase> {};

TEST_P(KernelTable, Classifies) {
    const KernelCase& c = GetParam();
    sys.fileVersions[kKernel] = {Ms(c.major, c.minor), c.build << 16};
    EXPECT_EQ(ClassifyByKernelVersion(sys), c.expected);
    EXPECT_EQ(sys.fileVersionReads, std::vector<std::wstring>{kKernel});
}

INSTANTIATE_TEST_SUITE_P(
    KernelVersions, KernelTable,
    ::testing::Values(KernelCase{6, 2, 9200, 10}, KernelCase{6, 3, 9600, 11},
                      KernelCase{6, 3, 17031, 11}, KernelCase{6, 4, 9841, 12},
                      KernelCase{6, 4, 9926, 12}, KernelCase{6, 5, 0, 10},
                      KernelCase{6, 1, 7601, 10}, KernelCase{10, 0, 10240, 12},
                      KernelCase{10, 0, 19045, 12}, KernelCase{10, 0, 22631, 12},
                      KernelCase{10, 1, 0, 10}, KernelCase{11, 0, 0, 10},
                      KernelCase{5, 2, 3790, 10}));

TEST_F(WindowsVersionFixture, MissingKernelFileGivesTen) {
    EXPECT_EQ(ClassifyByKernelVersion(sys), 10);
}

TEST_F(WindowsVersionFixture, UnreadableSystemDirectoryLooksAtTheDriveRoot) {
    sys.systemDirectory = L"";
    EXPECT_EQ(GetKernelFilePath(sys), L"\\ntoskrnl.exe");
    EXPECT_EQ(ClassifyByKernelVersion(sys), 10);
}

TEST_F(WindowsVersionFixture, ReadFileVersionZeroesOutputsOnFailure) {
    std::uint32_t high = 7;
    std::uint32_t low = 7;
    EXPECT_FALSE(ReadFileVersion(sys, L"C:\\none.dll", high, low));
    EXPECT_EQ(high, 0u);
    EXPECT_EQ(low, 0u);
    sys.fileVersions[L"C:\\v.dll"] = {Ms(6, 3), 0x25800000};
    EXPECT_TRUE(ReadFileVersion(sys, L"C:\\v.dll", high, low));
    EXPECT_EQ(high, Ms(6, 3));
    EXPECT_EQ(low, 0x25800000u);
}

}  // namespace
