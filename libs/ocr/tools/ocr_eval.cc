// ocr_eval: measures libocr.so on labelled captcha folders (PNG files and a
// labels.tsv of "file<TAB>text" lines, as bench/captcha/generate.py writes).
// For every folder it prints the exact-match accuracy of one ocr() call and
// of up to four calls stopping at the first reading of the label's length
// (what the server does with length=), the median milliseconds of one call
// (wall clock and the calling thread's processor time, which is the latency
// on an idle machine), and images per second with one and with two threads
// (with the processor time per image: it rises when the threads contend).
//
//   ocr_eval [--lib build/bin/libocr.so] [--examples N] DIR...
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using OcrFunction = const char* (*)(const void*, int);
using InitFunction = int (*)();

struct Sample {
  std::string name;
  std::string label;
  std::string bytes;
};

std::vector<Sample> loadFolder(const std::string& dir) {
  std::vector<Sample> samples;
  std::ifstream labels(dir + "/labels.tsv");
  std::string line;
  while (std::getline(labels, line)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    Sample s{line.substr(0, tab), line.substr(tab + 1), {}};
    std::ifstream in(dir + "/" + s.name, std::ios::binary);
    s.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (!s.bytes.empty()) samples.push_back(std::move(s));
  }
  return samples;
}

double threadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double processCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

// Images per second of `threads` threads sharing the set; `cpuMs` receives
// the processor time spent per image (it rises when threads contend, not
// when other programs take the cores).
double imagesPerSecond(OcrFunction ocr, const std::vector<Sample>& samples, int threads,
                       double* cpuMs) {
  const double cpuStart = processCpuSeconds();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (std::size_t i = t; i < samples.size(); i += threads) {
        ocr(samples[i].bytes.data(), static_cast<int>(samples[i].bytes.size()));
      }
    });
  }
  for (auto& w : workers) w.join();
  *cpuMs = (processCpuSeconds() - cpuStart) * 1000.0 / samples.size();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return samples.size() / seconds;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = "build/bin/libocr.so";
  int examples = 5;
  std::vector<std::string> dirs;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--lib") && i + 1 < argc) {
      library = argv[++i];
    } else if (!std::strcmp(argv[i], "--examples") && i + 1 < argc) {
      examples = std::atoi(argv[++i]);
    } else {
      dirs.push_back(argv[i]);
    }
  }
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "ocr_eval: %s\n", dlerror());
    return 1;
  }
  auto init = reinterpret_cast<InitFunction>(dlsym(handle, "init"));
  auto ocr = reinterpret_cast<OcrFunction>(dlsym(handle, "ocr"));
  if (!init || !ocr) {
    std::fprintf(stderr, "ocr_eval: %s lacks init or ocr\n", library.c_str());
    return 1;
  }
  init();
  std::printf("%-10s %6s %8s %8s %7s %7s %9s %9s %13s\n", "set", "images", "1 call", "4 tries",
              "ms/img", "cpu ms", "img/s x1", "img/s x2", "cpu ms x1/x2");
  for (const std::string& dir : dirs) {
    const std::vector<Sample> samples = loadFolder(dir);
    if (samples.empty()) continue;
    int firstRight = 0, triesRight = 0;
    std::vector<double> ms;
    std::vector<double> cpu;  // the same call's processor time: its latency on an idle machine
    std::vector<std::string> misread;
    for (const Sample& s : samples) {
      const double cpuStart = threadCpuMs();
      const auto start = std::chrono::steady_clock::now();
      std::string first = ocr(s.bytes.data(), static_cast<int>(s.bytes.size()));
      ms.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
      cpu.push_back(threadCpuMs() - cpuStart);
      firstRight += first == s.label;
      std::string answer = first;
      std::string seen = first;
      for (int attempt = 1; attempt < 4 && answer.size() != s.label.size(); ++attempt) {
        answer = ocr(s.bytes.data(), static_cast<int>(s.bytes.size()));
        seen += " " + answer;
      }
      const bool right = answer.size() == s.label.size() && answer == s.label;
      triesRight += right;
      if (!right && static_cast<int>(misread.size()) < examples) {
        misread.push_back(s.name + ": " + s.label + " read as " + seen);
      }
    }
    std::nth_element(ms.begin(), ms.begin() + ms.size() / 2, ms.end());
    std::nth_element(cpu.begin(), cpu.begin() + cpu.size() / 2, cpu.end());
    double singleCpu = 0, twinCpu = 0;
    const double single = imagesPerSecond(ocr, samples, 1, &singleCpu);
    const double twin = imagesPerSecond(ocr, samples, 2, &twinCpu);
    std::string name = dir;
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    name = name.substr(name.rfind('/') + 1);
    std::printf("%-10s %6zu %7.1f%% %7.1f%% %7.1f %7.1f %9.1f %9.1f %6.1f/%-6.1f\n", name.c_str(),
                samples.size(), 100.0 * firstRight / samples.size(),
                100.0 * triesRight / samples.size(), ms[ms.size() / 2], cpu[cpu.size() / 2], single,
                twin, singleCpu, twinCpu);
    for (const std::string& m : misread) std::printf("    %s\n", m.c_str());
  }
  return 0;
}
