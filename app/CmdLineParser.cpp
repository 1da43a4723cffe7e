#include "app/CmdLineParser.h"

#include <cstdint>
#include <utility>

namespace {

constexpr wchar_t kBlank = L' ';
constexpr wchar_t kColon = L':';
constexpr wchar_t kQuote = L'"';

bool IsIntroducer(wchar_t c) { return c == L'-' || c == L'/'; }

}  // namespace

bool CCmdLineParser::OrdinalLess::operator()(const std::wstring& a,
                                             const std::wstring& b) const {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<std::uint16_t>(a[i]);
        const auto cb = static_cast<std::uint16_t>(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

std::wstring LowerAsciiLetters(std::wstring text) {
    for (auto& c : text)
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c + 32);
    return text;
}

CCmdLineParser::CCmdLineParser(bool caseSensitive) : CaseSensitive(caseSensitive) {}

CCmdLineParser::~CCmdLineParser() = default;

std::wstring CCmdLineParser::Fold(std::wstring key) const {
    return CaseSensitive ? key : LowerAsciiLetters(std::move(key));
}

void CCmdLineParser::Store(std::wstring key, std::wstring value) {
    if (key.empty()) return;
    // emplace keeps an existing entry: the first occurrence of a switch wins.
    Switches.emplace(Fold(std::move(key)), std::move(value));
}

bool CCmdLineParser::Parse(const wchar_t* text) {
    if (text == nullptr) return false;
    CmdLine = text;
    Switches.clear();

    const std::wstring& s = CmdLine;
    const std::size_t end = s.size();
    std::size_t pos = 0;
    while (pos < end) {
        std::size_t intro = pos;
        while (intro < end && !IsIntroducer(s[intro])) ++intro;
        if (intro == end) break;

        const std::size_t keyStart = intro + 1;
        if (keyStart == end) break;

        std::size_t keyEnd = keyStart;
        while (keyEnd < end && s[keyEnd] != kBlank && s[keyEnd] != kColon) ++keyEnd;

        if (keyEnd == end) {
            Store(s.substr(keyStart), std::wstring());
            break;
        }

        std::wstring key = s.substr(keyStart, keyEnd - keyStart);
        if (s[keyEnd] == kBlank || keyEnd + 1 == end) {
            Store(std::move(key), std::wstring());
            pos = keyEnd + 1;
            continue;
        }

        // A colon with at least one character after it: a value follows.
        std::size_t valueStart = keyEnd + 1;
        std::size_t valueEnd;
        if (s[valueStart] == kQuote) {
            ++valueStart;
            valueEnd = s.find(kQuote, valueStart);
        } else {
            valueEnd = s.find(kBlank, valueStart);
        }
        if (valueEnd == std::wstring::npos) {
            Store(std::move(key), s.substr(valueStart));
            break;
        }
        Store(std::move(key), s.substr(valueStart, valueEnd - valueStart));
        pos = valueEnd + 1;
    }
    return !Switches.empty();
}

bool CCmdLineParser::HasKey(const wchar_t* key) const {
    return Switches.find(Fold(std::wstring(key))) != Switches.end();
}
