#pragma once
// Files as the server uses them: opened unshared (an exclusive lock taken right after open, so
// a second open of the same file fails at once, also from another thread of this process),
// absolute positions, and every short read or write reported as an error.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace qv::platform {

class FileError : public std::runtime_error {
 public:
  FileError(const std::string& what, int error) : std::runtime_error(what), error_(error) {}
  int Error() const { return error_; }  // errno of the failing call; 0 for a short transfer

 private:
  int error_;
};

enum class OpenMode {
  Read,             // existing file, read only
  ReadWrite,        // existing file, read and write
  CreateReadWrite,  // created when missing, kept when present
  CreateTruncate,   // created when missing, emptied when present
  CreateNew,        // created; fails when the file exists
};

class File {
 public:
  File() = default;
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Throws FileError naming the path; unshared = exclusive lock (fails at once when held).
  static File Open(const std::string& path, OpenMode mode, bool unshared = true);
  // Same, but returns nothing on failure and leaves errno set.
  static std::optional<File> TryOpen(const std::string& path, OpenMode mode, bool unshared = true);

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  int64_t Size() const;
  // Last modification, nanoseconds since the Unix epoch.
  int64_t ModifiedNs() const;
  int64_t Position() const { return pos_; }
  void Seek(int64_t pos);

  // Reads exactly n bytes at the current position (throws on a short read).
  void Read(void* buffer, size_t n);
  // Reads up to n bytes; returns the count (0 at the end of the file).
  size_t ReadSome(void* buffer, size_t n);
  void Write(const void* data, size_t n);
  // At pos, without using or moving the current position (safe from two threads at once).
  void ReadAt(int64_t pos, void* buffer, size_t n);
  void WriteAt(int64_t pos, const void* data, size_t n);
  void Truncate(int64_t size);
  void Flush();
  // Closes the file; throws when the system reports an error. A closed File ignores it.
  void Close();

 private:
  File(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  [[noreturn]] void Fail(const char* op, int error) const;

  int fd_ = -1;
  int64_t pos_ = 0;
  std::string path_;
};

bool FileExists(const std::string& path);  // a regular file
bool DirectoryExists(const std::string& path);
void CreateDirectory(const std::string& path);  // throws FileError; fine when it exists
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& from, const std::string& to);
// A second name for an existing file (a hard link); false when the system refuses it.
bool LinkFile(const std::string& existing, const std::string& newName);
int64_t FileSize(const std::string& path);  // -1 when it cannot be read
std::string JoinPath(const std::string& dir, const std::string& name);
// The file name with its extension replaced by ext (".arc"); added when it has none.
std::string ChangeExtension(const std::string& path, const std::string& ext);
// True for a name that stays inside its directory: not empty, no '/', not "." or "..", no NUL.
bool IsPlainFileName(const std::string& name);

}  // namespace qv::platform
