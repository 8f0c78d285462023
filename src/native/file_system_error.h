#pragma once

#include "errors.h"

// A refusal of the file system (no such folder, no permission, disk full, the file exists), with
// the operating system's own description unchanged.
class FileSystemError : public UserFacingError {
public:
    using UserFacingError::UserFacingError;
    // The description of errno `code`, as the system words it.
    static FileSystemError fromErrno(int code);
};
