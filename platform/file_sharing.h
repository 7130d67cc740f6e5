// Who may use the files and shared regions the driver creates: the creating user and one
// group, never everybody. Several users share one driver through that group: it is the
// group named by HBT_GROUP (a name or a number) when set, else the creator's own group.
//
// Everything here is best effort on objects the caller has just created or opened; a change
// the system refuses (an object another user owns) leaves the object as it is.
#pragma once

#include <string>

namespace hbt::platform {

inline constexpr unsigned kSharedFileMode = 0660;       // rw for owner and group
inline constexpr unsigned kSharedDirectoryMode = 02770;  // new entries inherit the group

// Gives an open file (or directory) the sharing group and the matching mode.
void share_file(int fd, bool directory = false);

// Creates the directory and any missing parents; those it creates are shared as above.
// False with errno when one cannot be created.
bool make_shared_directories(const std::string& path);

}  // namespace hbt::platform
