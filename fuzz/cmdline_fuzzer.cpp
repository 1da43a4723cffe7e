// Feeds arbitrary command lines (the input read as UTF-16LE code units)
// through the tail rule, the switch parser and the dispatch, checking what
// must hold for every input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/CmdLineParser.h"
#include "app/CommandTail.h"
#include "app/Dispatch.h"
#include "fake/FakeSystem.h"
#include "fake/WindowsVersionCache.h"
#include "launch/NavigationPage.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckParser(const std::wstring& tail, bool caseSensitive) {
    CCmdLineParser parser(caseSensitive);
    const bool result = parser.Parse(tail.c_str());
    Require(result == !parser.Switches.empty());
    Require(parser.CmdLine == tail);
    for (const auto& entry : parser.Switches) {
        Require(!entry.first.empty());
        Require(parser.HasKey(entry.first.c_str()));
        // Keys and values are cut from the text itself.
        Require(tail.find(entry.first) != std::wstring::npos || !caseSensitive);
        Require(tail.find(entry.second) != std::wstring::npos);
        if (!caseSensitive)
            for (wchar_t c : entry.first) Require(c < L'A' || c > L'Z');
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::wstring commandLine;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) break;  // the system's command line ends at the first zero
        commandLine.push_back(unit);
    }

    const std::wstring tail = FormCommandTail(commandLine.c_str());
    Require(tail.size() <= commandLine.size());
    Require(commandLine.compare(commandLine.size() - tail.size(), tail.size(), tail) == 0);
    Require(tail.empty() || static_cast<unsigned>(tail[0]) > 0x20u);

    CheckParser(tail, false);
    CheckParser(tail, true);

    // One run does exactly one thing, and always exits with 0.
    ResetWindowsVersionCodeCache();
    FakeSystem sys;
    sys.messageBoxAnswer = 2;
    sys.commandLine = commandLine;
    Require(ProgramMain(sys) == 0);
    const std::size_t pages =
        sys.CallsStartingWith(L"ShellExecuteW open|" + std::wstring(NavigationHomeUrl)).size();
    const std::size_t boxes = sys.CallsStartingWith(L"MessageBoxW").size();
    const std::size_t pauses = sys.CallsStartingWith(L"Sleep 2000").size();
    Require(pages + boxes + pauses <= 1);
    // Every shell call has a single-threaded apartment without OLE1 DDE of
    // its own, and COM is left as it was found.
    Require(sys.ShellExecuteApartmentFaults(0x6).empty());
    return 0;
}
