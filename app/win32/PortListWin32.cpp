#include "PortList.h"

#include "PortDetails.h"
#include "WideText.h"

#include <windows.h>

#include <algorithm>

namespace {

int CompareInUserLocale(const std::wstring& a, const std::wstring& b)
{
    return CompareStringEx(LOCALE_NAME_USER_DEFAULT, NORM_IGNORECASE, a.c_str(), static_cast<int>(a.size()),
                           b.c_str(), static_cast<int>(b.size()), nullptr, nullptr, 0) -
           CSTR_EQUAL;
}

bool ContainsIgnoringCase(const std::wstring& text, const std::wstring& part)
{
    return FindNLSStringEx(LOCALE_NAME_USER_DEFAULT, FIND_FROMSTART | NORM_IGNORECASE, text.c_str(),
                           static_cast<int>(text.size()), part.c_str(), static_cast<int>(part.size()), nullptr,
                           nullptr, nullptr, 0) >= 0;
}

// The description, with the maker after it unless the description names it.
std::wstring DetailsText(const Platform::TPortDetails& port)
{
    const std::wstring description = Platform::WideFromUtf8(port.Description);
    const std::wstring maker = Platform::WideFromUtf8(port.Manufacturer);
    if (maker.empty() || ContainsIgnoringCase(description, maker))
        return description;
    if (description.empty())
        return maker;
    return description + L" \u2014 " + maker;
}

} // namespace

std::optional<std::vector<TPortEntry>> ReadPortEntries()
{
    const std::optional<std::vector<Platform::TPortDetails>> ports =
        Platform::ListSerialDetails(Platform::MachinePortSource());
    if (!ports)
        return std::nullopt;
    std::vector<TPortEntry> entries;
    for (const Platform::TPortDetails& port : *ports)
        entries.push_back({Platform::WideFromUtf8(port.Name), DetailsText(port)});
    std::ranges::stable_sort(entries, [](const TPortEntry& a, const TPortEntry& b) {
        return CompareInUserLocale(a.Name, b.Name) < 0;
    });
    return entries;
}
