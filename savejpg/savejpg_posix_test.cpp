// SavetoJPEG on POSIX systems: permission bits, FIFOs and stop signals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

#include "savejpg.h"
#include "temp_output.h"
#include "test_support/bitmap.h"
#include "test_support/files.h"
#include "test_support/jpeg.h"

namespace savejpg_test {
namespace {

namespace fs = std::filesystem;
using namespace morvane::test_support;

TEST(SaveJpg, AReplacedJpegKeepsItsPermissionBits) {
  TempFolder dir;
  WriteFile(dir / "in.bmp", SmallBitmap());
  WriteFile(dir / "out.jpg", {1, 2, 3});
  const fs::perms private_file = fs::perms::owner_read | fs::perms::owner_write;
  fs::permissions(dir / "out.jpg", private_file);
  std::string src = (dir / "in.bmp").string(), dst = (dir / "out.jpg").string();
  ASSERT_EQ(SavetoJPEG(src.data(), dst.data(), 85, 0), SAVEJPG_OK);
  EXPECT_EQ(DecodeJpeg(ReadFile(dir / "out.jpg")).width, 9);
  EXPECT_EQ(fs::status(dir / "out.jpg").permissions(), private_file);  // stays private
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp", "out.jpg"}));
}

TEST(SaveJpg, AFifoNamedLikeABitmapIsRefusedWithoutWaitingForAWriter) {
  TempFolder dir;
  const fs::path fifo = dir / "in.bmp";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string src = fifo.string(), dst = (dir / "out.jpg").string();
  auto result =
      std::async(std::launch::async, [&] { return SavetoJPEG(src.data(), dst.data(), 85, 0); });
  const bool at_once = result.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
  if (!at_once) {  // a writer lets a conversion stuck in opening the FIFO end
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  EXPECT_TRUE(at_once);
  EXPECT_EQ(result.get(), SAVEJPG_ERR_OPEN_SOURCE);
  EXPECT_EQ(dir.Names(), (std::vector<std::string>{"in.bmp"}));
}

// Where the file system has no unnamed files, the temporary file has a name
// from the start; a stop signal must still take it away, however many are
// open at once (a batch on many cores). (Unnamed ones, the usual kind, are
// checked from outside by stop_signal_test.sh and tests/stopped_batch_test.sh.)
TEST(TempOutput, NamedTemporaryFilesGoWhenAStopSignalEndsTheProgram) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    TempFolder dir;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      ::signal(signal, SIG_DFL);  // as in a program started from a shell
      std::vector<savejpg::TempOutput> outputs(300);
      for (size_t i = 0; i < outputs.size(); ++i) {
        if (!outputs[i].CreateNamed(dir / ("out" + std::to_string(i) + ".jpg"))) _exit(1);
        outputs[i].Write(reinterpret_cast<const uint8_t*>("\xFF\xD8"), 2);
      }
      if (dir.Names().size() != outputs.size()) _exit(1);
      raise(signal);
      _exit(2);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
    EXPECT_TRUE(fs::is_empty(dir.path())) << dir.Names().size() << " left, " << dir.Names().at(0);
  }
}

}  // namespace
}  // namespace savejpg_test
