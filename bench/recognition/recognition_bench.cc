// Run: build/bin/recognition_bench. The figures that matter:
//  - BM_Base64Decode / BM_PlainBase64Decode on the same 1 MiB text (the
//    decoder must keep at least half the plain decoder's throughput);
//  - BM_HandleRecognitionRequest / BM_Base64DecodeCodeValue on a 1 MiB query
//    (the handler around the decoder must cost at most 3x the decoder);
//  - the BM_*Search* families grow linearly with the text (see the BigO line).
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "recognition/base64.h"
#include "recognition/request_routing.h"
#include "text/text_ops.h"

class HeaderList;

namespace {

constexpr size_t kMiB = 1 << 20;

// Standard Base64 of `size` random bytes.
std::string randomBase64(size_t textSize) {
  std::mt19937 random(42);
  std::string text;
  text.reserve(textSize);
  while (text.size() < textSize) text += kBase64Alphabet[random() % 64];
  return text;
}

const std::string& oneMiBText() {
  static const std::string text = randomBase64(kMiB);
  return text;
}

// The usual decoder: a value table, four characters to three bytes written
// into a buffer sized in advance, stop at the first character outside the
// alphabet.
std::vector<uint8_t> plainBase64Decode(const std::string& text) {
  static const std::array<int8_t, 256> values = [] {
    std::array<int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kBase64Alphabet[i])] = int8_t(i);
    return table;
  }();
  std::vector<uint8_t> out(text.size() / 4 * 3);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  size_t written = 0;
  for (size_t i = 0; i + 4 <= text.size(); i += 4) {
    const int a = values[in[i]], b = values[in[i + 1]], c = values[in[i + 2]],
              d = values[in[i + 3]];
    if ((a | b | c | d) < 0) break;
    const uint32_t bits = uint32_t(a) << 18 | uint32_t(b) << 12 | uint32_t(c) << 6 | uint32_t(d);
    out[written++] = static_cast<uint8_t>(bits >> 16);
    out[written++] = static_cast<uint8_t>(bits >> 8);
    out[written++] = static_cast<uint8_t>(bits);
  }
  out.resize(written);
  return out;
}

void BM_PlainBase64Decode(benchmark::State& state) {
  const std::string& text = oneMiBText();
  for (auto _ : state) benchmark::DoNotOptimize(plainBase64Decode(text));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_PlainBase64Decode);

void BM_Base64Decode(benchmark::State& state) {
  const Text text(oneMiBText());
  for (auto _ : state) benchmark::DoNotOptimize(base64Decode(text));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.length()));
}
BENCHMARK(BM_Base64Decode);

// The handler on a 1 MiB query whose code value is the 1 MiB text, with the
// "instant" test engine (answers ABCD at once): what the routing adds to the
// decoder.
const Text& oneMiBQuery() {
  static const Text query("code=" + oneMiBText() + "&length=4");
  return query;
}

void BM_Base64DecodeCodeValue(benchmark::State& state) {
  const Text code = textBetween(oneMiBQuery(), Text("code="), Text("&"), 0, false);
  for (auto _ : state) benchmark::DoNotOptimize(base64Decode(code));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(code.length()));
}
BENCHMARK(BM_Base64DecodeCodeValue);

void BM_HandleRecognitionRequest(benchmark::State& state) {
  setDllDirectory(Text(REZ_TEST_ENGINES_DIR "/instant"));
  static const int standIn = 0;
  const auto& headers = *reinterpret_cast<const HeaderList*>(&standIn);  // never consulted
  const Text& query = oneMiBQuery();
  const Text path("/vexo/"), method("GET"), none;
  for (auto _ : state) {
    int status = 0;
    Text statusText;
    benchmark::DoNotOptimize(
        handleRecognitionRequest(path, method, query, headers, none, none, status, statusText));
    if (status != 200) state.SkipWithError("the request was not accepted");
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(query.length()));
}
BENCHMARK(BM_HandleRecognitionRequest);

// The handler's searches, each over the whole text (the marker sits at the
// end), at growing sizes.
Text queryOfSize(int64_t size) { return Text(randomBase64(size_t(size)) + "&length=4"); }

void BM_FindTextSearch(benchmark::State& state) {
  const Text query = queryOfSize(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(findText(query, Text("length=")));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindTextSearch)->RangeMultiplier(4)->Range(64 << 10, 4 << 20)->Complexity();

void BM_FindTextReverseSearch(benchmark::State& state) {
  const Text query = queryOfSize(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(textAfter(query, Text("length="), 0, false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FindTextReverseSearch)->RangeMultiplier(4)->Range(64 << 10, 4 << 20)->Complexity();

void BM_TextBetweenSearch(benchmark::State& state) {
  const Text query("code=" + queryOfSize(state.range(0)).bytes());
  for (auto _ : state)
    benchmark::DoNotOptimize(textBetween(query, Text("code="), Text("&"), 0, false));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_TextBetweenSearch)->RangeMultiplier(4)->Range(64 << 10, 4 << 20)->Complexity();

void BM_Base64DecodeSizes(benchmark::State& state) {
  const Text text(randomBase64(size_t(state.range(0))));
  for (auto _ : state) benchmark::DoNotOptimize(base64Decode(text));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Base64DecodeSizes)->RangeMultiplier(4)->Range(64 << 10, 4 << 20)->Complexity();

}  // namespace

BENCHMARK_MAIN();
