#pragma once

// The port list's entries and the port chosen in it, kept as ports come and
// go: the choice stays where it is; a chosen port that goes away is awaited
// (nothing is chosen meanwhile, so that nothing else is flashed by mistake)
// and chosen again when it comes back; nothing changes while the list is
// dropped down; after start-up nothing is ever chosen on the user's behalf.
// No system calls: the window reads the ports and runs the wait's timer.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct TPortEntry {
    std::wstring Name;
    // What is behind the port, shown after the name; may be empty.
    std::wstring Details;
};

class TPortChoice {
public:
    // The list at start-up, with the layout's stored requests applied in
    // stored order, the last one winning: the first entry of a list that
    // has one, the stored text (ignoring case) when listed, then the stored
    // item index.
    void Start(std::vector<TPortEntry> entries, std::wstring_view storedText, std::optional<int> storedIndex);

    // A fresh list. While the list is dropped down nothing changes and
    // false is returned: the relisting is due when it closes.
    bool Relist(std::vector<TPortEntry> entries, bool droppedDown);
    // The list closed: true when a relisting waited for it.
    bool TakeRelistDue();

    // The user's pick (-1 for none); it ends any wait.
    void Pick(int index);
    // The awaited port did not come back in time: it is not awaited any more.
    void EndWait() { awaited_.clear(); }

    const std::vector<TPortEntry>& Entries() const { return entries_; }
    int Chosen() const { return chosen_; }
    // The chosen entry's bare name, or empty with nothing chosen.
    std::wstring ChosenName() const;
    bool Awaiting() const { return !awaited_.empty(); }

private:
    int IndexOf(std::wstring_view name) const;

    std::vector<TPortEntry> entries_;
    int chosen_ = -1;
    std::wstring awaited_;
    bool relistDue_ = false;
};
