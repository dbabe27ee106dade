// A scratch folder for one test: created fresh and empty below the system's temporary directory
// (TMPDIR), removed with everything in it when the object goes. Creation failing throws, which
// fails the test that asked for it.
#ifndef CORVALE_TESTS_SUPPORT_TEMP_DIR_H
#define CORVALE_TESTS_SUPPORT_TEMP_DIR_H

#include <string>
#include <string_view>

namespace corvale_test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder's absolute path, without a trailing "/".
  const std::string& path() const { return path_; }
  // The path of a file (or folder) of that name inside it; nothing is created.
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

 private:
  std::string path_;
};

}  // namespace corvale_test

#endif  // CORVALE_TESTS_SUPPORT_TEMP_DIR_H
