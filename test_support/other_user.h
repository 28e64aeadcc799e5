// Tests of folders that a user cannot write, on POSIX systems. The tests may
// run as root, whom permission bits do not bind: the code under test then
// runs in a forked child that first becomes the unprivileged user "nobody"
// (uid and gid 65534). Run as anyone else, the child keeps its user, whom
// the bits bind already.
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace morvane::test_support {

// In a child process: becomes "nobody" when running as root, otherwise
// nothing. Gives the empty text, or what failed.
std::string BecomeOtherUser();

// Gives `path` (not what it holds) to the user that BecomeOtherUser makes
// of this process, so that that user may write into it; and makes it
// readable and searchable by everyone.
void GiveToOtherUser(const std::filesystem::path& path);

// Makes `path` and each of its parents up to the root searchable by
// everyone, as far as this user may, so that "nobody" reaches what lies in it.
void LetEveryoneReach(const std::filesystem::path& path);

// Runs `body` in a forked child after BecomeOtherUser, once the child has
// found that it really cannot create a file in `read_only_folder`. Gives
// what `body` returned; a text starting "child: " when the child could not
// become that user, could create the file (the permission bits would not
// bind it: what it shows would prove nothing), or ended otherwise.
std::string AsOtherUser(const std::filesystem::path& read_only_folder,
                        const std::function<std::string()>& body);

}  // namespace morvane::test_support
