#pragma once

// Plays the program's cue sounds through the desktop's sound server: libsndfile decodes the file,
// PulseAudio's simple API plays it (PipeWire serves the same protocol). Sounds are found by bare
// file name, the current directory first, as a relative name is found, then the data folders
// where the program installs its own.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace nodrel::platform {

// What the sound lookup reads from the process, gathered in one place so that it can be given.
struct SoundSearchEnvironment {
    std::filesystem::path currentDirectory;
    std::string xdgDataHome;  // each variable as set, empty when it is not
    std::string home;
    std::string xdgDataDirs;
    std::filesystem::path programFile;  // the running executable, empty when unknown
};

SoundSearchEnvironment ProcessSoundSearchEnvironment();

// The folders a bare sound name is looked up in, in order: the current directory,
// $XDG_DATA_HOME/kavren-nodrel/sounds (~/.local/share/... when unset or relative),
// kavren-nodrel/sounds under each folder of $XDG_DATA_DIRS (default /usr/local/share:/usr/share),
// and last share/kavren-nodrel/sounds beside the folder of the program, which is where the build
// tree puts the sounds and where an install prefix holds them. Relative data folders are ignored,
// as the XDG base directory rules ask.
std::vector<std::filesystem::path> SoundSearchFolders(const SoundSearchEnvironment& environment);

// The first of the folders holding a regular file of that name. Only a bare name is looked up:
// an empty name, ".", ".." or one with a '/' finds nothing.
std::optional<std::filesystem::path> FindSoundFile(
    std::string_view bareName, const std::vector<std::filesystem::path>& folders);

// Looks `bareName` up (current directory first, then the data folders, then the build tree's
// sounds) and plays it to its end through the desktop's sound server. Returns true when the sound
// was played; false, silently and promptly, on any failure.
bool PlaySoundFile(std::string_view bareName);

}  // namespace nodrel::platform
