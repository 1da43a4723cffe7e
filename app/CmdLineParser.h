#pragma once

#include <map>
#include <string>

// Splits a command-line tail into switches ("/key", "-key", "/key:value",
// "/key:\"quoted value\"") and answers whether a switch is present.
class CCmdLineParser {
public:
    // Ordinal order: code unit by code unit as unsigned 16-bit numbers.
    struct OrdinalLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    using SwitchMap = std::map<std::wstring, std::wstring, OrdinalLess>;

    explicit CCmdLineParser(bool caseSensitive);
    virtual ~CCmdLineParser();

    CCmdLineParser(const CCmdLineParser&) = delete;
    CCmdLineParser& operator=(const CCmdLineParser&) = delete;

    bool Parse(const wchar_t* text);
    bool HasKey(const wchar_t* key) const;

    std::wstring CmdLine;
    SwitchMap Switches;
    bool CaseSensitive;

private:
    void Store(std::wstring key, std::wstring value);
    std::wstring Fold(std::wstring key) const;
};

// Lower-cases A to Z only; every other code unit is left as it is.
std::wstring LowerAsciiLetters(std::wstring text);
