/* ini_write_string with several writers of one file at once: threads of this
 * process and other processes of the device, each adding keys of its own;
 * and writers killed at random moments. No value that a writer was told is
 * written may be missing, and the file is never anything but complete. */
#include <gtest/gtest.h>
#include <signal.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../platform/spawn_self.h"
#include "ini_fixture.h"
#include "ini_writer.h"

using fixture::DeviceRoot;

namespace {

const int kBaseKeys = 300;
const int kRounds = 200;

std::string base_file() {
  std::string text = "[CONFIG]\r\n";
  for (int i = 0; i < kBaseKeys; i++) text += "KEY" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
  return text;
}

std::string key_of(const std::string& writer, int round) { return writer + "_" + std::to_string(round); }
std::string value_of(const std::string& writer, int round) { return "v" + writer + std::to_string(round * 7); }

/* Writes key_of(writer, r) for r = 0 .. rounds-1 (forever when rounds < 0);
 * returns the rounds whose write reported success. */
std::vector<int> write_rounds(const std::string& writer, int rounds) {
  std::vector<int> done;
  const std::u16string path = u"\\config.ini";
  for (int r = 0; rounds < 0 || r < rounds; r++) {
    std::u16string key = plat::utf8_to_utf16(key_of(writer, r));
    std::u16string value = plat::utf8_to_utf16(value_of(writer, r));
    if (ini_write_string(u"CONFIG", key.c_str(), value.c_str(), path.c_str())) done.push_back(r);
  }
  return done;
}

/* The file's lines (each must end in CR LF, else "torn" is set). */
std::map<std::string, std::string> parse(const std::string& bytes, bool* torn) {
  std::map<std::string, std::string> keys;
  *torn = bytes.compare(0, 10, "[CONFIG]\r\n") != 0 || bytes.size() < 2 ||
          bytes.compare(bytes.size() - 2, 2, "\r\n") != 0;
  size_t at = 10;
  while (at < bytes.size()) {
    size_t end = bytes.find("\r\n", at);
    if (end == std::string::npos) {
      *torn = true;
      break;
    }
    std::string line = bytes.substr(at, end - at);
    size_t equals = line.find('=');
    if (equals == std::string::npos || keys.count(line.substr(0, equals))) *torn = true;
    else keys[line.substr(0, equals)] = line.substr(equals + 1);
    at = end + 2;
  }
  for (int i = 0; i < kBaseKeys; i++)
    if (keys["KEY" + std::to_string(i)] != "value " + std::to_string(i)) *torn = true;
  return keys;
}

std::string read_all(const DeviceRoot& root) {
  std::ifstream in(root.host("config.ini"), std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

/* Child processes: "writer" arg = "ROOT|NAME|ROUNDS" */
int child_main(const std::string& mode, const std::string& arg) {
  if (mode != "writer") return 2;
  size_t a = arg.find('|'), b = arg.rfind('|');
  plat::set_device_root(arg.substr(0, a));
  std::string name = arg.substr(a + 1, b - a - 1);
  int rounds = std::stoi(arg.substr(b + 1));
  spawn_self::reply("started");
  std::vector<int> done = write_rounds(name, rounds);
  std::string list;
  for (int r : done) list += std::to_string(r) + ",";
  spawn_self::reply(list);
  return 0;
}

const bool child_registered = [] {
  ::testing::AddGlobalTestEnvironment(new spawn_self::ChildEnvironment(child_main));
  return true;
}();

std::vector<int> parse_list(const std::string& text) {
  std::vector<int> rounds;
  std::stringstream in(text);
  std::string item;
  while (std::getline(in, item, ','))
    if (!item.empty()) rounds.push_back(std::stoi(item));
  return rounds;
}

TEST(IniWriteConcurrent, ThreadsAndProcessesLoseNoValue) {
  DeviceRoot root;
  root.write("config.ini", base_file());
  const std::string root_dir = root.host("").string();

  std::vector<spawn_self::Child> children;
  for (const char* name : {"P0", "P1"}) {
    children.push_back(spawn_self::start("writer", root_dir + "|" + name + "|" + std::to_string(kRounds)));
    ASSERT_EQ("started", spawn_self::read_reply(children.back()));
  }
  std::map<std::string, std::vector<int>> done;
  for (const char* name : {"T0", "T1", "T2", "P0", "P1"}) done[name];
  std::vector<std::thread> threads;
  std::atomic<bool> stop{false};
  int torn_reads = 0, reads = 0;
  std::thread watcher([&] {
    while (!stop) {
      bool torn = false;
      parse(read_all(root), &torn);
      torn_reads += torn;
      reads++;
    }
  });
  for (const char* name : {"T0", "T1", "T2"})
    threads.emplace_back([&list = done[name], name] { list = write_rounds(name, kRounds); });
  for (auto& t : threads) t.join();
  for (size_t i = 0; i < children.size(); i++) {
    done[i == 0 ? "P0" : "P1"] = parse_list(spawn_self::read_reply(children[i]));
    EXPECT_EQ(0, spawn_self::finish(children[i]));
  }
  stop = true;
  watcher.join();

  EXPECT_EQ(0, torn_reads) << "of " << reads << " reads";
  bool torn = false;
  std::map<std::string, std::string> keys = parse(read_all(root), &torn);
  EXPECT_FALSE(torn);
  int lost = 0, succeeded = 0;
  for (auto& writer : done) {
    succeeded += (int)writer.second.size();
    for (int r : writer.second)
      if (keys[key_of(writer.first, r)] != value_of(writer.first, r)) lost++;
  }
  EXPECT_EQ(0, lost) << "of " << succeeded << " writes that reported success";
  /* The writers take turns; none is refused for want of one. */
  EXPECT_EQ(5 * kRounds, succeeded);
}

/* A writer killed at any moment leaves the old file or the new one, and the
 * next writer goes on (the mutex it left is abandoned, its temporary file is
 * cleared away). */
TEST(IniWriteConcurrent, KilledWriterLeavesOldOrNewFile) {
  DeviceRoot root;
  root.write("config.ini", base_file());
  const std::string root_dir = root.host("").string();
  std::mt19937 random(20261210);
  for (int kill_round = 0; kill_round < 12; kill_round++) {
    SCOPED_TRACE("kill " + std::to_string(kill_round));
    std::string name = "K" + std::to_string(kill_round);
    spawn_self::Child child = spawn_self::start("writer", root_dir + "|" + name + "|-1");
    ASSERT_EQ("started", spawn_self::read_reply(child));
    std::this_thread::sleep_for(std::chrono::microseconds(2000 + random() % 40000));
    EXPECT_EQ(128 + SIGKILL, spawn_self::finish(child, SIGKILL));

    bool torn = false;
    std::map<std::string, std::string> keys = parse(read_all(root), &torn);
    ASSERT_FALSE(torn);
    /* Every write adds one key: what the file holds is a run from round 0. */
    int held = 0;
    while (keys.count(key_of(name, held))) held++;
    for (auto& k : keys) {
      if (k.first.compare(0, name.size() + 1, name + "_") == 0) {
        EXPECT_LT(std::stoi(k.first.substr(name.size() + 1)), held) << k.first;
      }
    }
    /* The next writer is not kept waiting by the dead one. */
    std::u16string key = plat::utf8_to_utf16("after" + std::to_string(kill_round));
    EXPECT_EQ(1, ini_write_string(u"CONFIG", key.c_str(), u"1", u"\\config.ini"));
    for (auto& entry : std::filesystem::directory_iterator(root.host("")))
      EXPECT_EQ(std::string::npos, entry.path().filename().string().find(".tmp"));
  }
}

}  // namespace
