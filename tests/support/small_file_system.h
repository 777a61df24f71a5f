#pragma once

#include <gtest/gtest.h>

#include <string>

namespace nodrel::testing {

// Mounts a 256 KiB tmpfs on the folder `path` (made if missing), in a mount namespace of this
// process's own, so it goes with the process. Needs root; returns an empty text on success,
// otherwise why it could not be done.
std::string MountSmallFileSystem(const std::string& path);

// Fills the file system holding `folder` to its last block; false when the disk never said full.
bool FillFileSystem(const std::string& folder);

// Remounts the file system mounted on `path` read-only.
bool RemountReadOnly(const std::string& path);

// Unmounts it again, leaving the folder empty.
void UnmountSmallFileSystem(const std::string& path);

}  // namespace nodrel::testing

// Skips the calling test, with the reason, where no small file system can be mounted on `path`.
#define NODREL_REQUIRE_SMALL_FILE_SYSTEM(path)                                    \
    do {                                                                          \
        const std::string whyNot = ::nodrel::testing::MountSmallFileSystem(path); \
        if (!whyNot.empty()) GTEST_SKIP() << whyNot;                              \
    } while (false)
