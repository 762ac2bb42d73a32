#pragma once

#include <string>

namespace NES {

// Path separator of the save folder layout.
constexpr char sep = '/';

// The folder name of a cartridge: the path's base name (after the last '/' or '\'),
// cut at its last '.', with spaces replaced by '_'. A name that would be empty, "." or
// ".." gets a '_' in front ("_", "_.", "_.."), so that the folder is always one of its
// own inside the Tamberlo folder.
std::string save_name(char const* path);

} // namespace NES
