// Reading a whole regular file with a size cap, and replacing a file atomically: the file access
// the limits file and the profile share. Neither formats a message; each answers why it failed,
// and the caller words that its own way.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <string_view>

// Why a file was not read, or that it was.
struct FileOutcome {
    enum class Kind {
        Done,
        NotRegular,  // a directory, FIFO, device...
        TooLarge,    // over the cap the caller gave
        System,      // a call failed with error
    };
    Kind kind = Kind::Done;
    int error = 0;  // the errno of a System outcome

    bool Ok() const { return kind == Kind::Done; }
};

// The whole of the regular file at path (a symbolic link to one is followed) when it holds at
// most maxBytes. Anything but a regular file is refused before it is opened and is never waited
// on, should it become a FIFO in between. status, when given, receives the opened file's status.
// On failure bytes and status are left as they were.
FileOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            struct stat* status = nullptr);

// Whose the new file is when the old one is another's and the system will not let it be given
// away: the replacement is refused, or the file becomes the writer's (as an editor's save does).
enum class ForeignOwner { Refuse, TakeOver };

// Puts bytes in place of the file at path: written in full to a new file beside it (so that the
// rename stays within one file system) and renamed over it, so that a reader sees the old file
// or the new one, never part of either. The new file gets the permissions and the owner of the
// file path names (a symbolic link is followed to learn them, but it is the link that is
// replaced; see ForeignOwner for an owner it cannot be given to), or those any new file gets.
// Answers 0, or the errno of the step that failed; then the old file is untouched and no
// temporary file is left.
int ReplaceFileAtomically(const std::string& path, std::string_view bytes,
                          ForeignOwner foreignOwner);
