// Translator benchmarks: loading a 10,000-entry language file, and translating 10,000 texts,
// each against a plain std::unordered_map baseline doing the same essential work.
#include <benchmark/benchmark.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/code_page.h"
#include "translation/translator.h"

namespace {

constexpr int kEntries = 10000;

std::string SourceText(int i) { return "&Menu item number " + std::to_string(i); }

// Writes the generated language file once and returns its name.
const std::string& LanguageFile() {
  static const std::string name = [] {
    auto path = std::filesystem::temp_directory_path() / "kiv_bench_translator.lng";
    std::ofstream out(path, std::ios::binary);
    out << "[Languages]\r\n$EN = English\r\n$DE = Deutsch\r\nDefault = DE\r\n\r\n";
    for (int i = 0; i < kEntries; ++i)
      out << "EN:>" << SourceText(i) << "\r\nDE:>&Menuepunkt Nummer " << i << "\r\n\r\n";
    return path.string();
  }();
  return name;
}

std::string ReadAll(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void LoadLanguage_kiv(benchmark::State& state) {
  kiv::TWtransl tr(nullptr, true);
  tr.SetLanguageFile(LanguageFile());
  for (auto _ : state) benchmark::DoNotOptimize(tr.LoadLanguage("EN", "DE"));
}

// Baseline: read the file, split it into lines with memchr and map source to translation.
void LoadLanguage_base(benchmark::State& state) {
  for (auto _ : state) {
    std::string text = ReadAll(LanguageFile());
    std::unordered_map<std::string, std::u16string> map;
    std::string source;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
      const char* nl = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (!nl) nl = end;
      std::string_view line(p, (nl > p && nl[-1] == '\r') ? nl - p - 1 : nl - p);
      if (line.substr(0, 4) == "EN:>") source = line.substr(4);
      if (line.substr(0, 4) == "DE:>") map[source] = kiv::AnsiToWide(line.substr(4));
      p = nl + 1;
    }
    benchmark::DoNotOptimize(map.size());
  }
}

void TranslateText_kiv(benchmark::State& state) {
  kiv::TWtransl tr(nullptr, true);
  tr.SetLanguageFile(LanguageFile());
  tr.CurrentLanguage = "EN";
  kiv::TComponent root(nullptr);
  tr.Translate("DE", &root);  // loads the dictionary
  std::vector<std::u16string> texts;
  for (int i = 0; i < kEntries; ++i) texts.push_back(kiv::AnsiToWide(SourceText(i)));
  for (auto _ : state) {
    bool found = false;
    for (const auto& t : texts) benchmark::DoNotOptimize(tr.TranslateText(t, found));
  }
}

// Baseline: one unordered_map look-up per text with its conversion to 8-bit text.
void TranslateText_base(benchmark::State& state) {
  std::unordered_map<std::string, std::u16string> map;
  std::vector<std::u16string> texts;
  for (int i = 0; i < kEntries; ++i) {
    map[SourceText(i)] = u"&Menuepunkt";
    texts.push_back(kiv::AnsiToWide(SourceText(i)));
  }
  for (auto _ : state)
    for (const auto& t : texts) benchmark::DoNotOptimize(map.find(kiv::WideToAnsi(t))->second);
}

}  // namespace

BENCHMARK(LoadLanguage_kiv)->Name("LoadLanguage10k/kiv")->Unit(benchmark::kMillisecond);
BENCHMARK(LoadLanguage_base)->Name("LoadLanguage10k/base")->Unit(benchmark::kMillisecond);
BENCHMARK(TranslateText_kiv)->Name("TranslateText10k/kiv")->Unit(benchmark::kMillisecond);
BENCHMARK(TranslateText_base)->Name("TranslateText10k/base")->Unit(benchmark::kMillisecond);
