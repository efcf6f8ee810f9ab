// The host's one way to the file system: names are UTF-8 inside the host
// and go to the system's wide (W) calls, long ones with the \\?\ prefix;
// files are known by their identity, not by the spelling of their names;
// outputs are written through OutputFile, which checks every write to the
// end, and failures are told in words.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <string>
#include <vector>

namespace files {

// UTF-8 <-> UTF-16, with no other change.
std::wstring Wide(const std::string &utf8);
std::string Utf8(const std::wstring &wide);

// A name as the system's file calls take it: wide, made absolute, and with
// the \\?\ prefix when it is long, so that no length limit applies.
std::wstring SystemPath(const std::string &path);

// The attributes of what the name names, INVALID_FILE_ATTRIBUTES when it
// does not exist.
DWORD Attributes(const std::string &path);
bool IsFolder(const std::string &path);
bool Exists(const std::string &path);

// The folder of a path ("." for a bare name).
std::string FolderOf(const std::string &path);
// The last part of a path.
std::string NameOf(const std::string &path);

// The extension of a path, with its dot, in lower case ("" when it has none).
std::string LowerExtension(const std::string &path);
// A name as a key: the full path, folded to lower case, so that two
// spellings of a file that does not exist yet compare equal.
std::string Key(const std::string &path);
// A folder and a name in it.
std::string Join(const std::string &folder, const std::string &name);

// What the system says a file is: its volume and its index on that volume,
// through whichever name, link or prefix it is reached.
struct Identity {
    bool known = false;  // false: nothing could be opened by that name
    DWORD volume = 0;
    uint64_t index = 0;
    bool operator==(const Identity &other) const
    {
        return known && other.known && volume == other.volume && index == other.index;
    }
    bool operator<(const Identity &other) const
    {
        return volume != other.volume ? volume < other.volume : index < other.index;
    }
};
Identity IdentityOf(const std::string &path);
bool SameFile(const std::string &a, const std::string &b);

// The files (not folders) of a folder, by name, in no particular order.
std::vector<std::string> FilesIn(const std::string &folder);

// The cause of a failed file call, in words: "the disk is full", "access
// is denied", ... `path` is the file the call was for: it tells a
// read-only folder from a read-only file.
std::string CauseWords(DWORD error, const std::string &path = "");

// Writes one file from its start, at any offset, and checks it to its end:
// the first write that fails (or any short write) is kept and fails the
// file, whatever the writer did with the answer, and Finish succeeds only
// when the flush and the close succeeded and the file on disk is as long as
// what was written. The environment variable FILTERHOST_WRITE_FAULT
// ("BYTES" or "BYTES:ERROR") makes the write that reaches that byte fail
// with that system error (by default: the disk is full), for the tests.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile &) = delete;
    OutputFile &operator=(const OutputFile &) = delete;
    ~OutputFile();

    // Creates the file (replacing a file of that name).
    bool Create(const std::string &path);
    bool Write(const void *bytes, size_t size);
    bool WriteAt(uint64_t offset, const void *bytes, size_t size);
    bool ReadAt(uint64_t offset, void *bytes, size_t size, size_t *got);
    bool SetSize(uint64_t size);
    uint64_t Size() const { return extent_; }
    uint64_t Position() const { return position_; }
    void Seek(uint64_t position) { position_ = position; }
    // Flushes, checks the length and closes.
    bool Finish();
    // Closes (if open) and deletes the file.
    void Discard();
    // The first failure's system error, 0 when none.
    DWORD Error() const { return error_; }
    const std::string &Path() const { return path_; }

private:
    bool Fail(DWORD error);
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
    uint64_t position_ = 0, extent_ = 0;
    DWORD error_ = 0;
    uint64_t faultAt_ = UINT64_MAX;
    DWORD faultError_ = ERROR_DISK_FULL;
};

// An IStream over an OutputFile, for encoders that write to streams; it
// holds a reference to nothing but the file, which must outlive it.
IStream *NewOutputStream(OutputFile *file);

// Renames `from` to `to`, replacing an existing `to` only when `replace`,
// written through; *error is the system's error when it fails.
bool Rename(const std::string &from, const std::string &to, bool replace, DWORD *error);
bool Delete(const std::string &path);

// The command line's arguments, as UTF-8.
std::vector<std::string> Arguments();

// Prints UTF-8 text: to a console as wide characters, elsewhere as the
// bytes themselves.
void Print(FILE *stream, const std::string &text);

} // namespace files
