#include "PortChoice.h"

#include <algorithm>
#include <cwctype>
#include <utility>

namespace {

// Port names are compared as the Linux selector does, ignoring case.
bool SameIgnoringCase(std::wstring_view a, std::wstring_view b)
{
    return std::ranges::equal(a, b, [](wchar_t x, wchar_t y) { return std::towlower(x) == std::towlower(y); });
}

} // namespace

int TPortChoice::IndexOf(std::wstring_view name) const
{
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (SameIgnoringCase(entries_[i].Name, name))
            return static_cast<int>(i);
    }
    return -1;
}

void TPortChoice::Start(std::vector<TPortEntry> entries, std::wstring_view storedText, std::optional<int> storedIndex)
{
    entries_ = std::move(entries);
    awaited_.clear();
    relistDue_ = false;
    int requested = entries_.empty() ? -1 : 0;
    if (const int index = IndexOf(storedText); !storedText.empty() && index >= 0)
        requested = index;
    if (storedIndex)
        requested = *storedIndex;
    chosen_ = requested >= 0 && requested < static_cast<int>(entries_.size()) ? requested : -1;
}

bool TPortChoice::Relist(std::vector<TPortEntry> entries, bool droppedDown)
{
    if (droppedDown) {
        relistDue_ = true;
        return false;
    }
    relistDue_ = false;
    const std::wstring current = ChosenName();
    const std::wstring wanted = current.empty() ? awaited_ : current;
    entries_ = std::move(entries);
    chosen_ = wanted.empty() ? -1 : IndexOf(wanted);
    if (chosen_ >= 0)
        awaited_.clear();
    else if (!current.empty())
        awaited_ = current;
    return true;
}

bool TPortChoice::TakeRelistDue()
{
    return std::exchange(relistDue_, false);
}

void TPortChoice::Pick(int index)
{
    awaited_.clear();
    chosen_ = index >= 0 && index < static_cast<int>(entries_.size()) ? index : -1;
}

std::wstring TPortChoice::ChosenName() const
{
    return chosen_ >= 0 ? entries_[static_cast<std::size_t>(chosen_)].Name : std::wstring();
}
