// Profile (INI) files: "[Section]" headers followed by "Key=Value" lines. Both the update
// descriptor and the per-machine remembered settings are kept in this format, with the
// rules Windows profile files follow, because update packages are written for them.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

class ProfileFile {
public:
    // Holds the name only: opening never touches the disk and never fails. A name with a
    // directory in it is used as it stands; a bare name refers to the settings directory. On
    // Windows a bare-named file in the Windows directory is read where it exists (unless the
    // settings directory's was written later) and written there where that can be written.
    explicit ProfileFile(std::string fileName);

    ProfileFile(const ProfileFile&) = delete;
    ProfileFile& operator=(const ProfileFile&) = delete;

    // Every write has reached the file by the time it returns, so releasing has nothing
    // left to flush.
    ~ProfileFile() = default;

    // The value of `key` in `section` (names match regardless of letter case), without
    // surrounding blanks and without one pair of enclosing quotation marks, cut to
    // kMaxValueLength characters. A missing file, section or key yields `defaultValue`;
    // a key that is present with nothing after "=" yields the empty text.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;

    // Whether the key is present at all (possibly with an empty value).
    bool ValueExists(const std::string& section, const std::string& key) const;

    // Sets the value, creating the file, the section and the key as needed and keeping
    // every other line as it was. The file is replaced in one step, so a reader never sees
    // half of it; only its owner may read or write the new one (0600). Raises Exception
    // "Unable to write to %s" (with the name given to the constructor) when the write is
    // refused, and for names or values that would break the file's line structure.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);

    const std::string& FileName() const noexcept { return fileName_; }

    // Where the file is on disk.
    std::string Path() const;

    // The longest value a read returns: the read buffer holds 2048 characters including
    // the terminator.
    static constexpr std::size_t kMaxValueLength = 2047;

private:
    std::string fileName_;
};

} // namespace platform
