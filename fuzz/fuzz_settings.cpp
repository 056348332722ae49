// Fuzzes the settings file reader: arbitrary file bytes (long lines, no line
// ends, zero bytes, bytes of 0x80 and above, huge numbers), read either for
// every key as the program does at start-up or in one lookup of a chosen
// key and section into a destination of a chosen size (every lookup opens
// the file, so one input runs one of the two). Each result is checked against a plain model of the
// lookup rules written with std::string; the destination lies in an
// allocation of exactly its size, so the sanitizer sees any byte stored past
// it.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "config/paths.h"
#include "config/settings.h"
#include "fuzzsupport.h"

namespace {


bool Blank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x20; }

std::string Trimmed(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && Blank((unsigned char)s[b])) ++b;
  while (e > b && Blank((unsigned char)s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Upper(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
  }
  return s;
}

// The model: the file read in pieces of at most 253 bytes ending at a line
// feed, each piece up to its first zero byte, trimmed; the section line is
// the first piece starting with the section, the key line the first piece
// from there on starting with the key and holding "=". Returns whether the
// key was found and its value cut to size - 1 bytes and trimmed.
bool ModelLookup(const std::string& file, const std::string& section, const std::string& key,
                 size_t size, std::string* value) {
  std::string wantedSection = Upper(section.substr(0, strnlen(section.c_str(), 255)));
  std::string wantedKey = Upper(key.substr(0, strnlen(key.c_str(), 255)));
  bool sectionFound = false;
  size_t at = 0;
  while (at < file.size()) {
    size_t end = at;
    while (end < file.size() && end - at < (size_t)SettingLineLength) {
      if (file[end++] == '\n') break;
    }
    std::string piece = file.substr(at, end - at);
    at = end;
    piece = Trimmed(piece.substr(0, strnlen(piece.c_str(), piece.size())));
    std::string upper = Upper(piece);
    if (!sectionFound && upper.compare(0, wantedSection.size(), wantedSection) == 0) {
      sectionFound = true;
    }
    if (!sectionFound || upper.compare(0, wantedKey.size(), wantedKey) != 0) continue;
    size_t equals = piece.find('=');
    if (equals == std::string::npos) continue;
    *value = Trimmed(Trimmed(piece.substr(equals + 1)).substr(0, size - 1));
    return true;
  }
  return false;
}

// The integer of a value: strtoll's reading of the decimal number at its
// start, held to the 32-bit range.
int32_t ModelInteger(const std::string& text) {
  const char* p = text.c_str();
  while (Blank((unsigned char)*p)) ++p;
  if ((p[0] == '+' || p[0] == '-') && !(p[1] >= '0' && p[1] <= '9')) return 0;
  if (!((p[0] >= '0' && p[0] <= '9') || p[0] == '+' || p[0] == '-')) return 0;
  long long v = strtoll(p, nullptr, 10);  // saturates at the 64-bit limits
  if (v > INT32_MAX) return INT32_MAX;
  if (v < INT32_MIN) return INT32_MIN;
  return (int32_t)v;
}

void CheckLookup(const std::string& file, const std::string& section, const std::string& key,
                 size_t size, const char* defaultValue) {
  std::vector<char> destination(size, '\x55');
  int found = ReadSettingString(section.c_str(), key.c_str(), destination.data(), size,
                                defaultValue, NULL);
  FUZZ_CHECK(memchr(destination.data(), '\0', size) != nullptr);
  std::string expected;
  bool modelFound = ModelLookup(file, section, key, size, &expected);
  FUZZ_CHECK(found == (modelFound ? 1 : 0));
  if (!modelFound) expected = std::string(defaultValue).substr(0, size - 1);
  FUZZ_CHECK(expected == destination.data());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  FuzzQuietProgram();
  const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  snprintf(Paths.settings, sizeof Paths.settings, "%s/dcfsync-fuzz-%d.ini", dir, (int)getpid());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  // Taken from the end of the input; the file text is what is left.
  uint8_t choice = input.ConsumeIntegral<uint8_t>();
  size_t destinationSize = input.ConsumeIntegralInRange<size_t>(1, 300);
  std::string section = "[init]", key = SettingDefinitions[choice % SettingCount].key;
  if (choice >= 0xF0) {
    section = input.ConsumeRandomLengthString(300);
    key = input.ConsumeRandomLengthString(300);
  }
  std::string file = input.ConsumeRemainingBytesAsString();

  FILE* out = fopen(Paths.settings, "wb");
  if (out == NULL) abort();
  fwrite(file.data(), 1, file.size(), out);
  fclose(out);

  if (choice & 1) {
    // Every key as the program reads them at start-up: each row of the
    // table against the model, the added ones looked up only because the
    // file opened.
    memset(&Settings, 0x55, sizeof Settings);
    LoadSettings(NULL);
    for (size_t k = 0; k < SettingCount; ++k) {
      const SettingDefinition& row = SettingDefinitions[k];
      const char* field = (const char*)&Settings + row.offset;
      std::string value;
      bool found = ModelLookup(file, "[init]", row.key,
                               row.type == SettingText ? row.size : (size_t)SettingTextSize, &value);
      if (row.type == SettingText) {
        FUZZ_CHECK(memchr(field, '\0', row.size) != nullptr);
        FUZZ_CHECK((found ? value : std::string(row.textDefault)) == field);
      } else {
        int32_t actual;
        memcpy(&actual, field, sizeof actual);
        FUZZ_CHECK(actual == (found ? ModelInteger(value) : row.integerDefault));
      }
    }
    return 0;
  }

  // One lookup of a chosen key into a destination of a chosen size.
  CheckLookup(file, section, key, destinationSize, "default value");
  return 0;
}
