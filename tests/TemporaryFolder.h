#pragma once

// A folder of its own under /tmp for one test's files, removed with everything in it when the
// test ends.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

class TemporaryFolder {
  public:
    TemporaryFolder() = default;
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder() {
        if (path_.empty()) {
            return;
        }
        std::error_code error;
        std::filesystem::remove_all(path_, error);
        EXPECT_FALSE(error) << path_ << ": " << error.message();
    }

    // Makes the folder, named after prefix; false when it cannot be made.
    bool Create(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            return false;
        }
        path_ = pattern;
        return true;
    }

    const std::string& Path() const { return path_; }
    // A file or folder name inside the folder.
    std::string Path(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};
