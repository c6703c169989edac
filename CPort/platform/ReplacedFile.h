#pragma once

// What a save needs to know of the file it is about to replace: whether it is
// there, why it must not be replaced, and whose it is, so that the new file
// can go back to its owner. Links are followed: a save writes through them.

#include <cstdint>
#include <string>

namespace Platform {

class TReplacedFile {
public:
    // Looks the file at path (UTF-8) up.
    explicit TReplacedFile(const std::string& path);

    bool Exists() const { return exists_; }
    // The system's reason not to replace the file, or empty: the look failed,
    // this process may not write it, or it has no write permission at all.
    // That last is how its owner says "keep this as it is": it is refused
    // even to an administrator, with the reason an ordinary user would get.
    const std::string& Refusal() const { return refusal_; }
    // Gives the new file, open as descriptor fd, the old one's owner where
    // this process has the right (as root); otherwise, and on Windows, where
    // a new file takes its folder's permissions, nothing changes.
    void KeepOwner(int fd) const;

private:
    bool exists_ = false;
    std::string refusal_;
    std::uint32_t owner_ = 0;
    std::uint32_t group_ = 0;
};

} // namespace Platform
