#include "support/TmpfsMount.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kelvor::test {

TmpfsMount::TmpfsMount(const std::string& Folder, size_t Bytes) : FFolder(Folder) {
  if (::geteuid() != 0) {
    FFailure = "not run as root";
    return;
  }
  if (::mount("tmpfs", FFolder.c_str(), "tmpfs", 0,
              ("size=" + std::to_string(Bytes) + ",mode=0755").c_str()) != 0) {
    FFailure = std::string("mount: ") + std::strerror(errno);
    return;
  }
  FMounted = true;
}

TmpfsMount::~TmpfsMount() {
  if (FMounted) ::umount2(FFolder.c_str(), MNT_DETACH);
}

void TmpfsMount::Fill() {
  ASSERT_TRUE(FMounted);
  const std::string path = FFolder + "/filler";
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  // Large writes first, then single bytes for what a large one left.
  std::vector<char> block(4096, 'f');
  for (size_t size : {block.size(), size_t{1}}) {
    for (;;) {
      const ssize_t n = ::write(fd, block.data(), size);
      if (n > 0) continue;
      if (n < 0 && errno == EINTR) continue;
      break;
    }
  }
  ::close(fd);
}

void TmpfsMount::Free() {
  ASSERT_TRUE(FMounted);
  ::unlink((FFolder + "/filler").c_str());
}

}  // namespace kelvor::test
