// Long-run memory: resident memory of kestrel-probe after the first 100
// frames and at the end, for the video analysis of a long 720p clip at 5 Hz
// and for a long cutout stream of 320 x 180 frames.
// Usage: memory_bench [clip seconds (default 120)] [cutout frames (default 1000)]
// The media are made here with ffmpeg from Debian's darknet person photo.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

const char* kPhoto = "/usr/share/darknet/data/person.jpg";

bool sh(const std::string& command) { return std::system(command.c_str()) == 0; }

// A field of /proc/<pid>/status in kB: VmRSS (resident now) or VmHWM (the peak so far).
long statusKb(pid_t pid, const char* field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
  return -1;
}
long rssKb(pid_t pid) { return statusKb(pid, "VmRSS:"); }
long peakKb(pid_t pid) { return statusKb(pid, "VmHWM:"); }

// Waits for the child; its peak resident memory over the whole run in kB.
long reapPeakKb(pid_t pid) {
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

// A child with pipes on standard input and output.
struct Child {
  pid_t pid = -1;
  int in = -1, out = -1;
};

Child start(const std::vector<std::string>& args) {
  int in[2], out[2];
  if (pipe(in) || pipe(out)) std::exit(1);
  Child c;
  c.pid = fork();
  if (c.pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    for (int fd : {in[0], in[1], out[0], out[1]}) close(fd);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  c.in = in[1];
  c.out = out[0];
  return c;
}

bool readAll(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = read(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Peaks compare whole stretches of the run, however the output is buffered.
void report(const char* what, long frames, long peak100, long peakEnd) {
  std::printf("%s: %ld frames; peak RSS over the first 100 frames %ld kB, over the whole run %ld kB "
              "(%+.1f%%)\n",
              what, frames, peak100, peakEnd, 100.0 * (peakEnd - peak100) / peak100);
}

void videoAnalysis(const std::string& probe, const std::string& dir, int seconds) {
  const std::string clip = dir + "/clip.mp4";
  // The photo moves slowly across a 720p picture so that every frame differs.
  if (!sh("ffmpeg -v error -y -loop 1 -framerate 10 -i " + std::string(kPhoto) + " -t " +
          std::to_string(seconds) +
          " -vf \"scale=1280:-2,crop=1280:720:0:'mod(t*20,max(ih-720,1))',format=yuv420p\" "
          "-c:v libx264 -preset ultrafast " + clip)) {
    std::printf("video analysis: cannot make the clip\n");
    return;
  }
  Child c = start({probe, clip, "5"});
  close(c.in);
  FILE* out = fdopen(c.out, "r");
  char* line = nullptr;
  size_t cap = 0;
  // Output is block-buffered in the child: the 100th line arrives a few
  // frames after it was analysed, which only counts those frames in.
  long frames = 0, peak100 = -1;
  while (getline(&line, &cap, out) > 0) {
    if (std::string(line).rfind("{\"type\":\"frame\"", 0) != 0) continue;
    if (++frames == 100) peak100 = peakKb(c.pid);
  }
  free(line);
  fclose(out);
  report(("video analysis, " + std::to_string(seconds) + " s 720p clip at 5 Hz").c_str(), frames,
         peak100, reapPeakKb(c.pid));
}

void cutoutStream(const std::string& probe, const std::string& dir, long count) {
  constexpr int W = 320, H = 180;
  const std::string raw = dir + "/frames.bgra";
  // Two frames: the photo and its mirror image, sent in turn.
  if (!sh("ffmpeg -v error -y -i " + std::string(kPhoto) + " -filter_complex \"scale=" +
          std::to_string(W) + ":" + std::to_string(H) +
          ",split[a][b];[b]hflip[c];[a][c]concat=n=2\" -pix_fmt bgra -f rawvideo " + raw)) {
    std::printf("cutout stream: cannot make the frames\n");
    return;
  }
  std::ifstream file(raw, std::ios::binary);
  std::vector<uint8_t> frames((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  const size_t frameBytes = 4 * W * H;
  if (frames.size() < 2 * frameBytes) return;

  Child c = start({probe, "--cutout", std::to_string(W), std::to_string(H)});
  std::vector<uint8_t> answer(32 + W * H);
  long done = 0, peak100 = -1, rss100 = -1, rssEnd = -1;
  for (; done < count; ++done) {
    const uint8_t* frame = frames.data() + (done % 2) * frameBytes;
    if (write(c.in, frame, frameBytes) != static_cast<ssize_t>(frameBytes)) break;
    if (!readAll(c.out, answer.data(), answer.size())) break;
    if (done + 1 == 100) peak100 = peakKb(c.pid), rss100 = rssKb(c.pid);
    rssEnd = rssKb(c.pid);
  }
  close(c.in);
  close(c.out);
  report("cutout stream, 320x180", done, peak100, reapPeakKb(c.pid));
  std::printf("cutout stream: RSS after frame 100 %ld kB, after the last frame %ld kB (%+.1f%%)\n",
              rss100, rssEnd, 100.0 * (rssEnd - rss100) / rss100);
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  const int seconds = argc > 1 ? std::atoi(argv[1]) : 120;
  const long count = argc > 2 ? std::atol(argv[2]) : 1000;
  char dir[] = "/tmp/kestrel-memory-XXXXXX";
  if (!mkdtemp(dir)) return 1;
  if (seconds > 0) videoAnalysis(KESTREL_PROBE, dir, seconds);
  if (count > 0) cutoutStream(KESTREL_PROBE, dir, count);
  sh("rm -rf " + std::string(dir));
  return 0;
}
