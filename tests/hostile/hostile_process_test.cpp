// What a host's world throws at both programs: output paths that are not
// regular files, signals during a write, 4:2:0 video of odd sizes, sizes past
// the frame limit, endless inputs, unreadable files and the inference
// threads' spin setting.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/clips.h"
#include "tests/support/live_process.h"
#include "tests/support/process.h"
#include "tests/support/scratch.h"

using namespace kestrel::test;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> folder(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// Everything written into a FIFO by whoever opens it for writing, until
// they close it. finish() is called once the writer's run has ended: the bytes
// then, or what there was when no writer came at all.
class FifoReader {
 public:
  explicit FifoReader(const std::string& path)
      : fd_(::open(path.c_str(), O_RDONLY | O_NONBLOCK)), thread_([this] { run(); }) {}
  ~FifoReader() {
    done_ = true;
    thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  std::string finish() {
    done_ = true;
    thread_.join();
    thread_ = std::thread([] {});
    return bytes_;
  }

 private:
  void run() {
    bool writerSeen = false;
    for (;;) {
      pollfd p{fd_, POLLIN, 0};
      const int ready = ::poll(&p, 1, 100);
      if (ready == 0) {
        if (done_) return;  // no writer came, or it left without a hang-up
        continue;
      }
      char chunk[65536];
      const ssize_t n = ::read(fd_, chunk, sizeof chunk);
      if (n > 0) {
        writerSeen = true;
        bytes_.append(chunk, static_cast<size_t>(n));
      } else if (n == 0 && (writerSeen || (p.revents & POLLHUP))) {
        return;
      } else if (done_) {
        return;
      }
    }
  }

  int fd_;
  std::atomic<bool> done_{false};
  std::string bytes_;
  std::thread thread_;
};

// The three modes that write a file.
struct Writer {
  const char* name;
  std::vector<std::string> (*command)(const Scratch& media, const std::string& out);
};

std::string smallClip(const Scratch& s) {
  if (fileExists(s.path("clip.mp4"))) return s.path("clip.mp4");
  return makeClip(s, "clip.mp4",
                  "-f lavfi -i testsrc=size=64x48:rate=5 -frames:v 1 -pix_fmt yuv420p -c:v libx264");
}

std::string smallPicture(const Scratch& s) {
  if (fileExists(s.path("picture.png"))) return s.path("picture.png");
  return makeClip(s, "picture.png", "-f lavfi -i testsrc=size=64x48 -frames:v 1");
}

const Writer kWriters[] = {
    {"frame",
     [](const Scratch& m, const std::string& out) -> std::vector<std::string> {
       return {KESTREL_TONE, "frame", smallClip(m), "0", out};
     }},
    {"lut",
     [](const Scratch& m, const std::string& out) -> std::vector<std::string> {
       return {KESTREL_TONE, "lut", smallClip(m), "1", "2", out};
     }},
    {"--photo",
     [](const Scratch& m, const std::string& out) -> std::vector<std::string> {
       return {KESTREL_PROBE, "--photo", smallPicture(m), out, "64"};
     }},
};

bool isFifo(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

}  // namespace

// A symbolic link's target is replaced and the link kept; a FIFO and a device
// are written through and stay what they are; a folder is refused in one line.
TEST(HostileOutputs, PathsThatAreNotRegularFiles) {
  Scratch media;
  for (const Writer& w : kWriters) {
    SCOPED_TRACE(w.name);
    Scratch s;
    const ProcessResult plain = runProcess(w.command(media, s.path("plain")));
    ASSERT_EQ(plain.status, 0) << plain.err;
    const std::string expected = readFile(s.path("plain"));
    ASSERT_FALSE(expected.empty());

    Scratch links;
    writeFile(links.path("target"), "old");
    fs::create_symlink("target", links.path("link"));
    fs::create_symlink(links.path("link"), links.path("link2"));
    const ProcessResult viaLink = runProcess(w.command(media, links.path("link2")));
    EXPECT_EQ(viaLink.status, 0) << viaLink.err;
    EXPECT_TRUE(fs::is_symlink(links.path("link2")));
    EXPECT_TRUE(fs::is_symlink(links.path("link")));
    EXPECT_TRUE(readFile(links.path("target")) == expected) << "the target was not replaced";
    EXPECT_EQ(folder(links.dir()), (std::vector<std::string>{"link", "link2", "target"}));

    Scratch pipes;
    const std::string fifo = pipes.path("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    FifoReader reader(fifo);
    const ProcessResult viaFifo = runProcess(w.command(media, fifo));
    EXPECT_EQ(viaFifo.status, 0) << viaFifo.err;
    EXPECT_TRUE(reader.finish() == expected) << "the FIFO's reader did not get the output";
    EXPECT_TRUE(isFifo(fifo));
    EXPECT_EQ(folder(pipes.dir()), std::vector<std::string>{"fifo"});

    // A null device of the test's own: were it replaced, nothing of the system's is.
    const std::string device = pipes.path("null");
    if (::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
      const ProcessResult viaDevice = runProcess(w.command(media, device));
      EXPECT_EQ(viaDevice.status, 0) << viaDevice.err;
      EXPECT_TRUE(fs::is_character_file(fs::symlink_status(device)));
    }

    const ProcessResult intoFolder = runProcess(w.command(media, pipes.dir()));
    EXPECT_EQ(intoFolder.status, 1);
    EXPECT_EQ(lines(intoFolder.err).size(), 1u) << intoFolder.err;
    EXPECT_NE(intoFolder.err.find(pipes.dir()), std::string::npos) << intoFolder.err;
  }
}

// TERM, INT and HUP while the PNG is being written end the run by the signal
// and leave neither the temporary file nor an output behind.
TEST(HostileOutputs, SignalsRemoveTheTemporaryFile) {
  Scratch media;
  const std::string noise = makeClip(
      media, "noise.jpg", "-f lavfi -i color=size=3000x2000,noise=alls=100:allf=u -frames:v 1");
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(sig);
    Scratch s;
    LiveProcess p({KESTREL_PROBE, "--photo", noise, s.path("out.png"), "3000"}, {});
    ASSERT_TRUE(p.started());
    bool sent = false;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!sent && std::chrono::steady_clock::now() < until && p.pid() > 0) {
      for (const std::string& name : folder(s.dir()))
        if (name.rfind(".out.png.", 0) == 0) sent = ::kill(p.pid(), sig) == 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(sent) << "no temporary file was seen; " << p.err();
    ASSERT_TRUE(p.finish(30));
    EXPECT_EQ(p.status(), 128 + sig);
    EXPECT_EQ(folder(s.dir()), std::vector<std::string>{});
  }
}

// kestrel-tone renders 4:2:0 video of any size, as the probe reads it.
TEST(HostileSizes, OddSizedSubsampledVideo) {
  struct Case {
    const char* codec;
    int width, height;
    const char* name;
  };
  const Case cases[] = {{"libvpx-vp9", 853, 481, "a.webm"},
                        {"mpeg4", 101, 77, "b.mp4"},
                        {"ffv1", 3, 3, "c.mkv"},
                        {"ffv1", 1, 1, "d.mkv"}};
  Scratch s;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A flat colour cut exactly from a larger 4:2:0 picture.
    const std::string clip = makeClip(
        s, c.name,
        "-f lavfi -i color=c=0x3060c0:size=" + std::to_string(c.width + 1) + "x" +
            std::to_string(c.height + 1) + ",format=yuv420p,crop=" + std::to_string(c.width) +
            ":" + std::to_string(c.height) + ":0:0:exact=1 -frames:v 1 -pix_fmt yuv420p -c:v " +
            c.codec);
    const ProcessResult frame = runProcess({KESTREL_TONE, "frame", clip, "0", s.path("o.rgb")});
    ASSERT_EQ(frame.status, 0) << frame.err;
    EXPECT_EQ(frame.out, std::to_string(c.width) + " " + std::to_string(c.height) + "\n");
    const std::string rgb = readFile(s.path("o.rgb"));
    ASSERT_EQ(rgb.size(), static_cast<size_t>(c.width * c.height * 3));
    const int expected[3] = {0x30, 0x60, 0xc0};
    for (size_t i = 0; i < rgb.size(); ++i)
      ASSERT_NEAR(static_cast<uint8_t>(rgb[i]), expected[i % 3], 3) << "byte " << i;
    const ProcessResult lut = runProcess({KESTREL_TONE, "lut", clip, "1", "2", s.path("o.cube")});
    EXPECT_EQ(lut.status, 0) << lut.err;
  }
}

// Sizes past 16384 on a side are refused at once, whatever their pixel count;
// a stream whose input ends before its first frame allocates nothing for it.
TEST(HostileSizes, FrameLimitPerSideAndNothingBeforeTheFirstFrame) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--cutout", "100000", "1"}, {"--person", "1", "16385", "fast"},
           {"--gate-test", "16385", "16385"}, {"--gate-test", "46341", "46341"}}) {
    const ProcessResult r = runProbe(args, {.input = "abcd"});
    EXPECT_EQ(r.status, 1) << args[0] << " " << args[1];
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("too large (at most 16384x16384 pixels)"), std::string::npos) << r.err;
  }
  Scratch s;
  const std::string wide = makeClip(
      s, "wide.y4m", "-f lavfi -i color=size=16386x16,format=gray,crop=16385:16:0:0 -frames:v 1 -strict -1");
  const ProcessResult video = runProbe({wide, "1"});
  EXPECT_EQ(video.status, 1);
  EXPECT_NE(video.err.find("16385x16 pixels are too large"), std::string::npos) << video.err;

  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--cutout", "16384", "16384"}, {"--person", "16384", "16384", "fast"}}) {
    const ProcessResult r =
        runProbe(args, {.input = std::string(1 << 20, 'x'), .addressSpaceLimit = kAddressSpaceGuard});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_LT(r.maxRssKb, 1 << 20) << args[0];  // not the frame's 1 GiB, nor its buffers
  }
}

// The gate self-test refuses an input as soon as it is longer than the
// planes, without waiting for its end.
TEST(HostileSizes, GateTestStopsAtTheFirstByteTooMany) {
  LiveProcess p({KESTREL_PROBE, "--gate-test", "3", "1"}, {});
  ASSERT_TRUE(p.started());
  ASSERT_TRUE(p.send(std::string(14, 'x')));
  ASSERT_TRUE(p.finish(30)) << "still reading an input that cannot match";
  EXPECT_EQ(p.status(), 1);
  EXPECT_EQ(p.err(), "--gate-test: expected 13 bytes, got more\n");
  EXPECT_EQ(p.out(), "");
}

// A video the process may not read is reported as unreadable, not as no picture.
TEST(HostileInputs, ToneSaysItCannotReadAFile) {
  Scratch s;
  const std::string clip = smallClip(s);
  std::vector<std::string> command{KESTREL_TONE, "frame", clip, "0", s.path("o.rgb")};
  ASSERT_EQ(::chmod(clip.c_str(), 0), 0);
  if (::geteuid() == 0) {
    // Root reads anything: the run drops to nobody, for whom the folder is closed.
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "no setpriv to drop root";
    command.insert(command.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", "--"});
  }
  const ProcessResult r = runProcess(command);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "can't read " + clip + "\n");
}

// The inference threads spin 10,000 rounds unless the caller says otherwise:
// libgomp reports what it took.
TEST(HostileInputs, SpinCountIsInForce) {
  struct Case {
    std::map<std::string, std::string> env;
    const char* shown;
  };
  const Case cases[] = {{{}, "GOMP_SPINCOUNT = '10000'"},
                        {{{"GOMP_SPINCOUNT", "20000"}}, "GOMP_SPINCOUNT = '20000'"},
                        {{{"OMP_WAIT_POLICY", "active"}}, "OMP_WAIT_POLICY = 'ACTIVE'"}};
  for (const Case& c : cases) {
    ProcessOptions options;
    options.env = c.env;
    options.env["OMP_DISPLAY_ENV"] = "verbose";
    options.unsetEnv = {"GOMP_SPINCOUNT", "OMP_WAIT_POLICY"};
    // A mode that maps libgomp (the usage line maps nothing), ending at once on no input.
    const ProcessResult r = runProbe({"--gate-test", "1", "1"}, options);
    EXPECT_NE(r.err.find(c.shown), std::string::npos) << r.err;
    if (!c.env.empty()) {
      EXPECT_EQ(r.err.find("GOMP_SPINCOUNT = '10000'"), std::string::npos);
    }
  }
}
