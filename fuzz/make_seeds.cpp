// Writes the starting inputs of the fuzz targets: settings files in the
// forms the program documents, frames made from the telegrams received off
// the air, the documented example frames, and module answers whole, split,
// late and flooding. Each input is laid out the way the target takes it
// apart: numbers from the end of the input, byte strings from the front.
//
// Usage: make_seeds RECEIVED-MINUTES-FILE OUTPUT-DIRECTORY
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "clock/telegram.h"
#include "config/settings.h"

namespace {

// Builds an input in the layout of the fuzzer's data provider.
struct Seed {
  std::string front, back;  // back in the order the numbers are taken
  // A number the target takes with ConsumeIntegralInRange(min, max):
  // raw is the offset from min, written most significant byte first.
  void Number(uint64_t raw, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) back += (char)((raw >> (8 * i)) & 0xFF);
  }
  void Int32(int32_t value) { Number((uint32_t)((int64_t)value - INT32_MIN), 4); }
  void Byte(unsigned value) { Number(value, 1); }
  void Bytes(const std::string& bytes) { front += bytes; }
  // A string the target takes with ConsumeRandomLengthString.
  void Text(const std::string& text) {
    for (char c : text) {
      front += c;
      if (c == '\\') front += '\\';
    }
    front += "\\E";
  }
  std::string Data() const { return front + std::string(back.rbegin(), back.rend()); }
};

std::string Dir;
int Written = 0;

void Write(const std::string& target, const std::string& name, const std::string& data) {
  std::string path = Dir + "/" + target;
  mkdir(path.c_str(), 0755);
  std::ofstream out(path + "/" + name, std::ios::binary);
  out << data;
  ++Written;
}

std::string RawFrame(const std::string& bits, int second, int hundredths) {
  std::string frame(26, '\0');
  frame[1] = (char)second;
  frame[13] = 59;
  for (int n = 0; n < 59 && n < (int)bits.size(); ++n) {
    if (bits[n] == '1') frame[15 + n / 8] = (char)(frame[15 + n / 8] | (1 << (n % 8)));
  }
  frame[24] = (char)hundredths;
  return frame;
}

std::string Hex(const char* text) {
  std::string bytes;
  unsigned value;
  int used;
  while (sscanf(text, "%x%n", &value, &used) == 1) {
    bytes += (char)value;
    text += used;
  }
  return bytes;
}

// A settings file with every key of the table at its default (a text key
// with a sample value), in the table's order.
std::string EveryKey() {
  std::string text = "[init]\n";
  for (size_t i = 0; i < SettingCount; ++i) {
    const SettingDefinition& row = SettingDefinitions[i];
    text += std::string(row.key) + "=" +
            (row.type == SettingText ? (i == 0 ? std::string("COM1") : std::string("text"))
                                     : std::to_string(row.integerDefault)) +
            "\n";
  }
  return text;
}

void SettingsSeeds() {
  const std::string everyKey = EveryKey();
  const char* files[] = {
      everyKey.c_str(),
      ("; comment\r\n[init]\r\nport = /dev/ttyUSB0 \r\ntimer=5min\r\nTimerEnable=1\r\n"
       "baud=0x10\r\ncentury=fast\r\nSynchronizeDiff=-2\r\n"),
      "[other]\nport=COM9\n[INIT]\nPORT=COM2\ntimer\nTIMER=99999999999999999999\n",
      "[init]\tport=COM3\ncentury=-2147483649\nWriteLog=+7\nbaud=  9600",
  };
  int n = 0;
  for (const char* text : files) {
    Seed s;
    s.Byte((unsigned)n * 3);  // which key for the extra lookup
    s.Number(29, 2);          // destination size 30
    s.Bytes(text);
    Write("settings", "example" + std::to_string(n++), s.Data());
  }
  Seed longLine;
  longLine.Byte(0);
  longLine.Number(255, 2);
  longLine.Bytes("[init]\nport=" + std::string(600, 'A') + "\ntimer=" + std::string(300, '7'));
  Write("settings", "longline", longLine.Data());
}

struct Received {
  std::string bits;
  int minute;
};

std::vector<Received> ReadCorpus(const char* path) {
  std::vector<Received> corpus;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.size() < 60 || line.find_first_not_of("01") < 60) continue;
    corpus.push_back({line.substr(0, 60), (int)corpus.size()});
  }
  return corpus;
}

void EvaluateSettings(Seed* s, int setTime, int32_t count) {
  s->Int32(2000);  // century
  s->Int32(100);   // SynchronizeDiff
  s->Int32(12);    // SynchronizeMaxDiff
  s->Int32(count);
  s->Byte((unsigned)setTime);  // DCFSetTime
  s->Byte(1);                  // WriteData
  s->Int32(0);                 // ContValidTime
  s->Int32(0);                 // last year
  s->Int32(0);                 // last minute
  s->Byte(0);                  // clock setting succeeds
  s->Int32(0);
}

void EvaluateSeeds(const std::vector<Received>& corpus) {
  // Runs of consecutive minutes off the air, as raw frames.
  for (size_t first = 0; first + 4 <= corpus.size(); first += 20) {
    Seed s;
    EvaluateSettings(&s, 1, 3);
    for (size_t i = first; i < first + 4; ++i) {
      s.Byte(0);
      s.Bytes(RawFrame(corpus[i].bits, 10, 50));
    }
    Write("evaluate", "received" + std::to_string(first), s.Data());
  }
  // The documented frames: a clean raw frame, decoded frames with the call
  // bit, with CET announced, rejected outright and with every complaint.
  Seed raw;
  EvaluateSettings(&raw, 0, 3);
  raw.Byte(0);
  raw.Bytes(Hex("00 11 00 00 00 00 00 00 00 00 00 00 00 3B 00 00 00 B4 86 82 48 9A 04 00 32 00"));
  Write("evaluate", "rawexample", raw.Data());
  const char* decoded[] = {"80 23 0E 08 2C 1A 11 00 32 00", "80 23 0E 08 AC 1A 11 00 32 00",
                           "84 23 0E 08 2C 1A 11 00 32 00", "7F 23 0E 08 2C 1A 11 00 32 00",
                           "F0 23 0E 08 2C 1A 11 01 32 00"};
  Seed d;
  EvaluateSettings(&d, 1, 1);
  for (const char* frame : decoded) {
    d.Byte(1);
    d.Bytes(Hex(frame));
  }
  Write("evaluate", "decodedexamples", d.Data());

  // Telegrams handed to the evaluation directly, captured 50 ms and 5 s
  // after the minute they announce: the first is too close to set the
  // clock, the second sets it.
  for (int offsetMs : {50, 5000}) {
    TimeTelegram t;
    memset(&t, 0, sizeof t);
    t.capture.time = 1796736917 + offsetMs / 1000;  // 08.12.2026 14:35:17 CET
    t.capture.millitm = (uint16_t)(500 + offsetMs % 1000);
    t.Z2 = 1;
    t.S = 1;
    t.hour = 14;
    t.minute = 35;
    t.second = 17;
    t.millisecond = 500;
    t.day = 8;
    t.month = 12;
    t.year = 2026;
    t.weekday = 2;
    t.valid = 1;
    Seed direct;
    EvaluateSettings(&direct, 1, 1);
    direct.Byte(2);
    direct.Bytes(std::string((const char*)&t, sizeof t));
    Write("evaluate", "direct" + std::to_string(offsetMs), direct.Data());
  }
}

void ExchangeSeed(const std::string& name, int32_t expected, int command,
                  const std::vector<std::pair<int, std::string>>& chunks) {
  Seed s;
  s.Int32(expected);
  s.Byte(2);                          // 2 seconds of silence end the answer
  s.Byte(command == 0 ? 2 : 1);       // dump as text (1) or hexadecimal (0)
  s.Byte((unsigned)command);
  s.Byte(0);                          // the module stays on the line
  s.Byte(0);                          // every write goes through
  for (const auto& chunk : chunks) {
    s.Byte(0);                        // bytes
    s.Number((unsigned)chunk.first, 2);
    s.Text(chunk.second);
  }
  Write("exchange", name, s.Data());
}

void ExchangeSeeds(const std::vector<Received>& corpus) {
  std::string raw = RawFrame(corpus.empty() ? std::string(60, '0') : corpus[0].bits, 7, 10);
  std::string decoded = Hex("80 23 0E 08 2C 1A 11 00 32 00");
  ExchangeSeed("ident", 12, 0, {{30, "DCFSIM 1.0\r\n"}});
  ExchangeSeed("raw", 26, 1, {{40, raw}});
  ExchangeSeed("decoded", 10, 2, {{40, decoded}});
  ExchangeSeed("stale", 26, 1, {{0, "stale"}, {1200, raw}});
  ExchangeSeed("split", 26, 1, {{40, raw.substr(0, 9)}, {150, raw.substr(9)}});
  ExchangeSeed("surplus", 26, 1, {{40, raw + "0123"}, {300, "late"}});
  ExchangeSeed("flood", 26, 1, {{40, std::string(1400, '\xA5')}, {0, std::string(1400, 'Z')}});
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: make_seeds RECEIVED-MINUTES-FILE OUTPUT-DIRECTORY\n");
    return 2;
  }
  Dir = argv[2];
  mkdir(Dir.c_str(), 0755);
  std::vector<Received> corpus = ReadCorpus(argv[1]);
  if (corpus.size() < 4) {
    fprintf(stderr, "make_seeds: no telegrams in %s\n", argv[1]);
    return 1;
  }
  SettingsSeeds();
  EvaluateSeeds(corpus);
  ExchangeSeeds(corpus);
  printf("make_seeds: %d inputs from %zu telegrams in %s\n", Written, corpus.size(), Dir.c_str());
  return 0;
}
