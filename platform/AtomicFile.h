#pragma once

#include <string>
#include <string_view>

namespace zeza {

// Writes bytes to a temporary file beside path, flushes it to disk and renames
// it over path, so path holds either its old content or all of the new one.
// A symbolic link at path is followed: its final target is written (and
// created when missing), the link stays. An existing file keeps its permission
// bits; a new one gets the usual mode under the user's umask.
// False (and no temporary left behind) on any failure.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// The file a path names once every symbolic link at its end is followed
// (a chain of links, relative ones too). path itself when it is no link; the
// last target when it is missing. "" for a loop of links.
std::string ResolveFileLinks(const std::string& path);

}  // namespace zeza
