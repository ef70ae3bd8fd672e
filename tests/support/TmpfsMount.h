// A small tmpfs mounted over a folder for the life of the object: the real
// seam for a full disk. Mounting needs root (and a kernel or container that
// lets the process mount); Mounted() says whether it worked, and tests skip
// otherwise. Test thread only.
#pragma once

#include <cstddef>
#include <string>

namespace kelvor::test {

class TmpfsMount {
 public:
  // Mounts a tmpfs of Bytes over Folder, which must exist.
  TmpfsMount(const std::string& Folder, size_t Bytes);
  ~TmpfsMount();  // a lazy unmount: files still open do not keep it
  TmpfsMount(const TmpfsMount&) = delete;
  TmpfsMount& operator=(const TmpfsMount&) = delete;

  bool Mounted() const { return FMounted; }
  // Why the mount failed; empty when it worked.
  const std::string& Failure() const { return FFailure; }

  // Writes a filler file until no byte more fits.
  void Fill();
  // Removes the filler.
  void Free();

 private:
  std::string FFolder;
  bool FMounted = false;
  std::string FFailure;
};

}  // namespace kelvor::test
