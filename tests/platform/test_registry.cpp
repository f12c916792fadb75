/* The registry calls the system makes, as Win32 defines them, under a key of
 * its own below HKEY_CURRENT_USER\Software\VelmarTest; then, on the host
 * only, the store file: its text, its reader, its rewrite when the writer is
 * killed, and the processes that share it. */
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "plat/host.h"
#include "plat/registry_store.h"
#endif

#include "known_difference.h"

namespace {

using WString = std::basic_string<WCHAR>;

WString widen(const std::string& ascii) { return WString(ascii.begin(), ascii.end()); }

/* For messages: ASCII as it is, anything else as '?'. */
std::string narrow(const WCHAR* text) {
  std::string out;
  for (; text && *text; text++) out += *text < 0x80 ? (char)*text : '?';
  return out;
}

std::vector<BYTE> text_bytes(const WString& text, bool terminator) {
  std::vector<BYTE> bytes;
  for (WCHAR c : text) {
    bytes.push_back((BYTE)(c & 0xFF));
    bytes.push_back((BYTE)((unsigned)c >> 8));
  }
  if (terminator) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

std::vector<BYTE> dword_bytes(DWORD v) {
  return {(BYTE)v, (BYTE)(v >> 8), (BYTE)(v >> 16), (BYTE)(v >> 24)};
}

LONG set_value(HKEY key, const WCHAR* name, DWORD type, const std::vector<BYTE>& data) {
  return RegSetValueExW(key, name, 0, type, data.empty() ? nullptr : data.data(),
                        (DWORD)data.size());
}

/* A value's data and type, read by a size query and then a read of that size. */
LONG get_value(HKEY key, const WCHAR* name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG e = RegQueryValueExW(key, name, nullptr, type, nullptr, &size);
  if (e != ERROR_SUCCESS) return e;
  data->assign(size + 1, 0xCC);
  DWORD got = size + 1;
  e = RegQueryValueExW(key, name, nullptr, type, data->data(), &got);
  data->resize(got);
  return e;
}

/* Deletes a key with everything below it, leaves first (desktop Windows
 * refuses to delete a key that has subkeys). */
void delete_tree(HKEY parent, const WCHAR* name) {
  HKEY key;
  if (RegOpenKeyExW(parent, name, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  for (;;) {
    WCHAR child[256];
    DWORD size = 256;
    if (RegEnumKeyExW(key, 0, child, &size, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    delete_tree(key, child);
    HKEY left;
    if (RegOpenKeyExW(key, child, 0, KEY_READ, &left) == ERROR_SUCCESS) {
      RegCloseKey(left); /* could not be deleted: stop rather than loop */
      break;
    }
  }
  RegCloseKey(key);
  RegDeleteKeyW(parent, name);
}

const WCHAR kBase[] = TEXT("Software\\VelmarTest");

/* Each test works in HKEY_CURRENT_USER\Software\VelmarTest\<test name>
 * (on the host, in a device root of its own). */
class Registry : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef _WIN32
    previous_root_ = plat::device_root();
    char dir[] = "/tmp/velmar-registry-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    plat::set_device_root(root_);
#endif
    name_ = WString(kBase) + TEXT("\\") +
            widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
    delete_tree(HKEY_CURRENT_USER, name_.c_str());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }

  void TearDown() override {
    if (key_) RegCloseKey(key_);
    delete_tree(HKEY_CURRENT_USER, name_.c_str());
    /* The shared parent goes only when no other test is using it. */
    HKEY base;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBase, 0, KEY_READ, &base) == ERROR_SUCCESS) {
      WCHAR child[256];
      DWORD size = 256;
      bool empty = RegEnumKeyExW(base, 0, child, &size, nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_NO_MORE_ITEMS;
      RegCloseKey(base);
      if (empty) RegDeleteKeyW(HKEY_CURRENT_USER, kBase);
    }
#ifndef _WIN32
    plat::set_device_root(previous_root_);
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
#endif
  }

  std::vector<WString> subkeys(HKEY key) {
    std::vector<WString> names;
    for (DWORD i = 0;; i++) {
      WCHAR name[256];
      DWORD size = 256;
      LONG e = RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr);
      if (e != ERROR_SUCCESS) {
        EXPECT_EQ(e, ERROR_NO_MORE_ITEMS);
        break;
      }
      names.push_back(WString(name, size));
    }
    return names;
  }

  HKEY key_ = nullptr;
  WString name_;
#ifndef _WIN32
  std::string root_, previous_root_;
#endif
};

/* ---- Keys ---- */

TEST_F(Registry, CreateAndOpenKeys) {
  enum Call { CREATE, OPEN };
  const struct {
    Call call;
    const WCHAR* path;
    LONG error;
    DWORD disposition; /* for CREATE */
  } steps[] = {
      {OPEN, TEXT("Alpha"), ERROR_FILE_NOT_FOUND, 0},
      {CREATE, TEXT("Alpha"), ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {CREATE, TEXT("Alpha"), ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
      {CREATE, TEXT("ALPHA"), ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
      {OPEN, TEXT("alpha"), ERROR_SUCCESS, 0},
      {CREATE, TEXT("Beta\\Gamma\\Delta"), ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {OPEN, TEXT("Beta"), ERROR_SUCCESS, 0},
      {OPEN, TEXT("beta\\GAMMA"), ERROR_SUCCESS, 0},
      {OPEN, TEXT("Beta\\Gamma\\Delta"), ERROR_SUCCESS, 0},
      {OPEN, TEXT("Beta\\Missing\\Delta"), ERROR_FILE_NOT_FOUND, 0},
      {OPEN, TEXT("Beta\\Gamma\\Delta\\Epsilon"), ERROR_FILE_NOT_FOUND, 0},
      {CREATE, TEXT("Beta\\Gamma\\Zeta"), ERROR_SUCCESS, REG_CREATED_NEW_KEY},
      {CREATE, TEXT("Beta\\Gamma"), ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
      {OPEN, TEXT(""), ERROR_SUCCESS, 0}, /* the key itself */
  };
  for (const auto& s : steps) {
    SCOPED_TRACE((s.call == CREATE ? "create " : "open ") + narrow(s.path));
    HKEY key = nullptr;
    DWORD disposition = 0;
    LONG e = s.call == CREATE ? RegCreateKeyExW(key_, s.path, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                nullptr, &key, &disposition)
                              : RegOpenKeyExW(key_, s.path, 0, KEY_READ, &key);
    EXPECT_EQ(e, s.error);
    if (e != ERROR_SUCCESS) continue;
    EXPECT_NE(key, nullptr);
    if (s.call == CREATE) {
      EXPECT_EQ(disposition, s.disposition);
    }
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  }
  /* The first spelling is kept; subkeys come in name order, whatever the case. */
  EXPECT_EQ(subkeys(key_), (std::vector<WString>{TEXT("Alpha"), TEXT("Beta")}));
  HKEY gamma;
  ASSERT_EQ(RegOpenKeyExW(key_, TEXT("BETA\\gamma"), 0, KEY_READ, &gamma), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(gamma), (std::vector<WString>{TEXT("Delta"), TEXT("Zeta")}));
  RegCloseKey(gamma);
}

TEST_F(Registry, SubkeysAreEnumeratedInNameOrder) {
  for (const WCHAR* name : {TEXT("b"), TEXT("C"), TEXT("a")}) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(key_, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  EXPECT_EQ(subkeys(key_), (std::vector<WString>{TEXT("a"), TEXT("b"), TEXT("C")}));
  WCHAR name[8];
  DWORD size = 1; /* no room for "a" and its terminator */
  EXPECT_EQ(RegEnumKeyExW(key_, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  size = 8;
  EXPECT_EQ(RegEnumKeyExW(key_, 3, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, DeleteKey) {
  HKEY key;
  ASSERT_EQ(RegCreateKeyExW(key_, TEXT("Leaf"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyW(key_, TEXT("LEAF")), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(key_, TEXT("Leaf"), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key_, TEXT("Leaf")), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyW(key_, TEXT("Missing\\Leaf")), ERROR_FILE_NOT_FOUND);

  ASSERT_EQ(RegCreateKeyExW(key_, TEXT("Tree\\Branch\\Leaf"), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(set_value(key, TEXT("V"), REG_DWORD, dword_bytes(1)), ERROR_SUCCESS);
  RegCloseKey(key);
  LONG e = RegDeleteKeyW(key_, TEXT("Tree"));
  KNOWN_HOST_DIFFERENCE_EQ("the host follows Windows CE, which deletes a key with all its subkeys; "
                           "desktop Windows refuses a key that has subkeys",
                           e, (LONG)ERROR_SUCCESS, (LONG)ERROR_ACCESS_DENIED);
  if (known_difference::on_host()) {
    EXPECT_EQ(e, ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(key_, TEXT("Tree\\Branch"), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegOpenKeyExW(key_, TEXT("Tree"), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  } else {
    EXPECT_EQ(RegDeleteKeyW(key_, TEXT("Tree\\Branch\\Leaf")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key_, TEXT("Tree\\Branch")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteKeyW(key_, TEXT("Tree")), ERROR_SUCCESS);
  }
  /* The importer's way: the parent given as the key, the leaf as the name. */
  ASSERT_EQ(RegCreateKeyExW(key_, TEXT("Demo"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  HKEY parent;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_WRITE, &parent), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyW(parent, TEXT("Demo")), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(parent), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(key_), std::vector<WString>{});
}

TEST_F(Registry, HandleOfADeletedKeyAnswersKeyDeleted) {
  HKEY gone;
  ASSERT_EQ(RegCreateKeyExW(key_, TEXT("Gone"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &gone,
                            nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteKeyW(key_, TEXT("Gone")), ERROR_SUCCESS);
  DWORD size = 0;
  HKEY sub;
  EXPECT_EQ(set_value(gone, TEXT("V"), REG_DWORD, dword_bytes(1)), ERROR_KEY_DELETED);
  EXPECT_EQ(RegQueryValueExW(gone, TEXT("V"), nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCreateKeyExW(gone, TEXT("Sub"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &sub,
                            nullptr),
            ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(gone), ERROR_SUCCESS);
}

TEST_F(Registry, BadHandlesAreRefused) {
  HKEY key;
  DWORD size = 0;
  EXPECT_EQ(RegOpenKeyExW(nullptr, TEXT("Software"), 0, KEY_READ, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegQueryValueExW(nullptr, TEXT("V"), nullptr, nullptr, nullptr, &size),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(nullptr), ERROR_INVALID_HANDLE);
  /* Predefined roots can be used and "closed" freely. */
  EXPECT_EQ(RegFlushKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(HKEY_CURRENT_USER), ERROR_SUCCESS);
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(Registry, AccessMaskIsNotEnforced) {
  HKEY reading;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_READ, &reading), ERROR_SUCCESS);
  LONG e = set_value(reading, TEXT("V"), REG_DWORD, dword_bytes(5));
  KNOWN_HOST_DIFFERENCE_EQ("the host follows Windows CE, which ignores the access mask of an open key; "
                           "desktop Windows refuses a write through a key opened for reading",
                           e, (LONG)ERROR_SUCCESS, (LONG)ERROR_ACCESS_DENIED);
  RegCloseKey(reading);
}

/* ---- Values ---- */

TEST_F(Registry, ValuesKeepTypeAndBytes) {
  const struct {
    const WCHAR* name; /* null: the default value */
    DWORD type;
    std::vector<BYTE> data;
  } values[] = {
      {TEXT("Number"), REG_DWORD, dword_bytes(10)},
      {TEXT("ClientNo"), REG_SZ, text_bytes(TEXT("13800138000"), true)},
      {TEXT("NoTerminator"), REG_SZ, text_bytes(TEXT("ab"), false)},
      {TEXT("Blob"), REG_BINARY, {0x01, 0xFF, 0x00, 0x7F}},
      {TEXT("Empty"), REG_BINARY, {}},
      {TEXT("List"), REG_MULTI_SZ, text_bytes(WString(TEXT("a\0bc\0"), 5), true)},
      {TEXT("Path"), REG_EXPAND_SZ, text_bytes(TEXT("%TEMP%\\x"), true)},
      {nullptr, REG_SZ, text_bytes(TEXT("default"), true)},
  };
  for (const auto& v : values) {
    ASSERT_EQ(set_value(key_, v.name, v.type, v.data), ERROR_SUCCESS);
  }
  for (const auto& v : values) {
    SCOPED_TRACE(v.name ? narrow(v.name) : "(default)");
    DWORD type = 0, size = 12345;
    EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, v.type);
    std::vector<BYTE> data;
    EXPECT_EQ(get_value(key_, v.name, &type, &data), ERROR_SUCCESS);
    if (v.name && WString(v.name) == TEXT("NoTerminator")) {
      KNOWN_WINE_DIFFERENCE_EQ("Wine adds the terminator a REG_SZ value was stored without",
                               data.size(), v.data.size() + sizeof(WCHAR), v.data.size());
      if (known_difference::on_wine()) continue;
    }
    EXPECT_EQ(size, v.data.size());
    EXPECT_EQ(data, v.data);
    if (!v.data.empty()) {
      std::vector<BYTE> small(v.data.size() - 1);
      size = (DWORD)small.size();
      type = 0;
      EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, &type, small.data(), &size),
                ERROR_MORE_DATA);
      EXPECT_EQ(size, v.data.size()) << "the size needed";
      EXPECT_EQ(type, v.type);
    }
    /* Neither data nor size: only whether it exists. */
    EXPECT_EQ(RegQueryValueExW(key_, v.name, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  }
  /* The empty name is the default value too. */
  std::vector<BYTE> data;
  DWORD type = 0;
  EXPECT_EQ(get_value(key_, TEXT(""), &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, text_bytes(TEXT("default"), true));
}

TEST_F(Registry, ValueErrors) {
  ASSERT_EQ(set_value(key_, TEXT("Present"), REG_DWORD, dword_bytes(1)), ERROR_SUCCESS);
  BYTE buffer[8];
  DWORD size = sizeof buffer;
  const struct {
    const char* call;
    std::function<LONG()> run;
    LONG error;
  } steps[] = {
      {"query a missing value",
       [&] { return RegQueryValueExW(key_, TEXT("Missing"), nullptr, nullptr, buffer, &size); },
       ERROR_FILE_NOT_FOUND},
      {"query the unset default value",
       [&] { return RegQueryValueExW(key_, nullptr, nullptr, nullptr, buffer, &size); },
       ERROR_FILE_NOT_FOUND},
      {"delete a missing value", [&] { return RegDeleteValueW(key_, TEXT("Missing")); },
       ERROR_FILE_NOT_FOUND},
      {"query with data but no size",
       [&] { return RegQueryValueExW(key_, TEXT("Present"), nullptr, nullptr, buffer, nullptr); },
       ERROR_INVALID_PARAMETER},
      {"delete a value, other case", [&] { return RegDeleteValueW(key_, TEXT("PRESENT")); },
       ERROR_SUCCESS},
      {"query the deleted value",
       [&] { return RegQueryValueExW(key_, TEXT("Present"), nullptr, nullptr, buffer, &size); },
       ERROR_FILE_NOT_FOUND},
      {"delete it again", [&] { return RegDeleteValueW(key_, TEXT("Present")); },
       ERROR_FILE_NOT_FOUND},
  };
  for (const auto& s : steps) {
    size = sizeof buffer;
    EXPECT_EQ(s.run(), s.error) << s.call;
  }
}

TEST_F(Registry, ValueNamesIgnoreCaseAndKeepTheirFirstSpelling) {
  ASSERT_EQ(set_value(key_, TEXT("Port"), REG_DWORD, dword_bytes(1)), ERROR_SUCCESS);
  ASSERT_EQ(set_value(key_, TEXT("PORT"), REG_SZ, text_bytes(TEXT("x"), true)), ERROR_SUCCESS);
  DWORD type = 0;
  std::vector<BYTE> data;
  ASSERT_EQ(get_value(key_, TEXT("port"), &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(type, (DWORD)REG_SZ) << "a new type replaces the old";
  EXPECT_EQ(data, text_bytes(TEXT("x"), true));
  WCHAR name[16];
  DWORD name_size = 16;
  ASSERT_EQ(RegEnumValueW(key_, 0, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(WString(name, name_size), WString(TEXT("Port")));
  name_size = 16;
  EXPECT_EQ(RegEnumValueW(key_, 1, name, &name_size, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, EnumerateValues) {
  ASSERT_EQ(set_value(key_, TEXT("First"), REG_DWORD, dword_bytes(7)), ERROR_SUCCESS);
  ASSERT_EQ(set_value(key_, TEXT("Second"), REG_BINARY, {1, 2, 3}), ERROR_SUCCESS);
  WCHAR name[16];
  DWORD name_size = 16, type = 0;
  BYTE data[8] = {};
  DWORD data_size = sizeof data;
  ASSERT_EQ(RegEnumValueW(key_, 0, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_SUCCESS);
  EXPECT_EQ(WString(name, name_size), WString(TEXT("First")));
  EXPECT_EQ(type, (DWORD)REG_DWORD);
  EXPECT_EQ(std::vector<BYTE>(data, data + data_size), dword_bytes(7));
  name_size = 16;
  data_size = 2;
  EXPECT_EQ(RegEnumValueW(key_, 1, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_MORE_DATA);
  EXPECT_EQ(data_size, 3u) << "the size needed";
  name_size = 3; /* "Second" needs 7 */
  data_size = sizeof data;
  EXPECT_EQ(RegEnumValueW(key_, 1, name, &name_size, nullptr, &type, data, &data_size),
            ERROR_MORE_DATA);
  name_size = 16;
  EXPECT_EQ(RegEnumValueW(key_, 2, name, &name_size, nullptr, &type, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
}

TEST_F(Registry, OverlongKeyNameIsRefused) {
  HKEY key;
  WString name(256, TEXT('k'));
  const LONG overlong = RegCreateKeyExW(key_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                        &key, nullptr);
  KNOWN_WINE_DIFFERENCE("Wine takes a key name longer than 255 characters", overlong == ERROR_SUCCESS);
  if (overlong == ERROR_SUCCESS) {
    RegCloseKey(key);
    RegDeleteKeyW(key_, name.c_str());
  }
  name.resize(255);
  ASSERT_EQ(RegCreateKeyExW(key_, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

#ifndef _WIN32
/* ---- The host's store ---- */

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

/* The key line of the test's key in the store. */
std::string key_line(const WString& name) {
  return "[HKEY_CURRENT_USER\\" + plat::utf16_to_utf8(name) + "]";
}

TEST_F(Registry, StoreIsReadableText) {
  ASSERT_EQ(set_value(key_, TEXT("Port"), REG_DWORD, dword_bytes(10)), ERROR_SUCCESS);
  ASSERT_EQ(set_value(key_, TEXT("ClientNo"), REG_SZ, text_bytes(TEXT("138"), true)),
            ERROR_SUCCESS);
  ASSERT_EQ(set_value(key_, nullptr, REG_BINARY, {0x01, 0xFF}), ERROR_SUCCESS);
  std::string text = read_file(root_ + "/registry.reg");
  std::string expected = key_line(name_) + "\n"
                         "\"Port\"=dword:0000000a\n"
                         "\"ClientNo\"=sz:\"138\\0\"\n"
                         "@=hex:01,ff\n";
  EXPECT_EQ(text.compare(0, 18, "VELMAR REGISTRY 1\n"), 0) << text;
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

/* Keys and values whose names and bytes need every escape of the store,
 * under each root. */
struct Awkward {
  HKEY root;
  WString key;
  WString name;
  DWORD type;
  std::vector<BYTE> data;
};

std::vector<Awkward> awkward_values(const WString& base) {
  WString lone_surrogate(1, (WCHAR)0xD800);
  WString chinese = TEXT("\u8bdd\u52a1\u5458"); /* 话务员 */
  std::vector<BYTE> all_bytes;
  for (int i = 0; i < 256; i++) all_bytes.push_back((BYTE)i);
  return {
      {HKEY_CURRENT_USER, base + TEXT("\\100% ]; \"x\" ") + chinese, TEXT("q\"b\\s;=@"), REG_SZ,
       text_bytes(TEXT("tab\tnl\ncr\r\"\\") + lone_surrogate + TEXT("\U0001F600"), true)},
      {HKEY_CURRENT_USER, base + TEXT("\\") + lone_surrogate + TEXT("\x01[x]"),
       TEXT("\x7f") + chinese, REG_MULTI_SZ, text_bytes(WString(TEXT("a\0b\0"), 4), true)},
      {HKEY_LOCAL_MACHINE, base + TEXT("\\Types"), TEXT("Odd"), REG_SZ, {0x41, 0x00, 0x42}},
      {HKEY_LOCAL_MACHINE, base + TEXT("\\Types"), TEXT("ShortDword"), REG_DWORD, {1, 2, 3}},
      {HKEY_LOCAL_MACHINE, base + TEXT("\\Types"), TEXT("Custom"), 0x12345678, {9}},
      {HKEY_LOCAL_MACHINE, base + TEXT("\\Types"), TEXT("AllBytes"), REG_BINARY, all_bytes},
      {HKEY_CLASSES_ROOT, base, TEXT(""), REG_EXPAND_SZ, text_bytes(TEXT("%x%"), false)},
      {HKEY_USERS, base + TEXT("\\Empty"), TEXT("None"), REG_NONE, {}},
  };
}

TEST_F(Registry, StoreKeepsEveryNameAndByte) {
  auto values = awkward_values(name_);
  for (const auto& v : values) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(v.root, v.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(set_value(key, v.name.c_str(), v.type, v.data), ERROR_SUCCESS);
    RegCloseKey(key);
  }
  /* The text reads back whole, and the reader writes it back unchanged. */
  std::string text = read_file(root_ + "/registry.reg");
  std::string rewritten;
  EXPECT_EQ(plat::registry_store_parse(text.data(), text.size(), &rewritten), text.size());
  EXPECT_EQ(rewritten, text);
  /* A device root holding only a copy of the file gives the same registry. */
  std::string copy = root_ + "/copy";
  ASSERT_TRUE(std::filesystem::create_directory(copy));
  write_file(copy + "/registry.reg", text);
  plat::set_device_root(copy);
  for (const auto& v : values) {
    SCOPED_TRACE(plat::utf16_to_utf8(v.key) + " " + plat::utf16_to_utf8(v.name));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExW(v.root, v.key.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(get_value(key, v.name.c_str(), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(data, v.data);
    RegCloseKey(key);
  }
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  EXPECT_EQ(subkeys(key), (std::vector<WString>{values[0].key.substr(name_.size() + 1),
                                                values[1].key.substr(name_.size() + 1)}));
  RegCloseKey(key);
}

TEST(RegistryStore, ReaderStopsAtTheFirstBadLine) {
  const std::string head = "VELMAR REGISTRY 1\n[HKEY_LOCAL_MACHINE\\A]\n\"V\"=dword:00000001\n";
  const struct {
    const char* what;
    std::string valid; /* the part that is read */
    std::string rest;  /* from the first bad line */
  } cases[] = {
      {"complete", head + "; comment\n\n@=hex:\n", ""},
      {"empty file", "", ""},
      {"wrong header", "", "VELMAR REGISTRY 2\n" + head.substr(18)},
      {"header without its line end", "", "VELMAR REGISTRY 1"},
      {"last line cut", head, "\"W\"=dword:0000"},
      {"last line not ended", head, "\"W\"=dword:00000002"},
      {"dword of 7 digits", head, "\"W\"=dword:0000002\n\"X\"=dword:00000003\n"},
      {"dword with trailing text", head, "\"W\"=dword:00000002 \n"},
      {"bad hex byte", head, "\"W\"=hex:01,0g\n"},
      {"hex list ending in a comma", head, "\"W\"=hex:01,\n"},
      {"hex type without digits", head, "\"W\"=hex():01\n"},
      {"unknown kind", head, "\"W\"=text:\"a\"\n"},
      {"bad escape", head, "\"W\"=sz:\"a\\q\"\n"},
      {"unclosed string", head, "\"W\"=sz:\"abc\n"},
      {"raw control character", head, "\"W\"=sz:\"a\tb\"\n"},
      {"invalid UTF-8", head, "\"\xC3\x28\"=dword:00000002\n"},
      {"overlong UTF-8", head, "\"\xC0\xAF\"=dword:00000002\n"},
      {"encoded surrogate", head, "\"\xED\xA0\x80\"=dword:00000002\n"},
      {"zero in a value name", head, "\"a\\0\"=dword:00000002\n"},
      {"unknown root", head, "[HKEY_LOCAL\\B]\n"},
      {"empty key name", head, "[HKEY_LOCAL_MACHINE\\A\\\\B]\n"},
      {"key line not closed", head, "[HKEY_LOCAL_MACHINE\\B\n"},
      {"bad key escape", head, "[HKEY_LOCAL_MACHINE\\%00zz]\n"},
      {"zero in a key name", head, "[HKEY_LOCAL_MACHINE\\a%0000]\n"},
      {"backslash in a key name", head, "[HKEY_LOCAL_MACHINE\\a%005c]\n"},
      {"key name too long", head, "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n"},
      {"junk bytes", head, std::string("\xFF\x00\x01\n", 4)},
      {"value before any key", "VELMAR REGISTRY 1\n", "\"V\"=dword:00000001\n"},
  };
  for (const auto& c : cases) {
    std::string text = c.valid + c.rest;
    std::string rewritten, again;
    EXPECT_EQ(plat::registry_store_parse(text.data(), text.size(), &rewritten), c.valid.size())
        << c.what;
    /* What was read is what the valid part alone gives. */
    plat::registry_store_parse(c.valid.data(), c.valid.size(), &again);
    EXPECT_EQ(rewritten, again) << c.what;
  }
  std::string deep = "VELMAR REGISTRY 1\n[HKEY_USERS";
  for (int i = 0; i < 512; i++) deep += "\\k";
  std::string deep_valid = deep + "]\n";
  EXPECT_EQ(plat::registry_store_parse(deep_valid.data(), deep_valid.size(), nullptr),
            deep_valid.size());
  std::string too_deep = deep + "\\k]\n";
  EXPECT_EQ(plat::registry_store_parse(too_deep.data(), too_deep.size(), nullptr), 18u);
}

TEST_F(Registry, DamagedStoreIsReadAsFarAsItIsValid) {
  RegCloseKey(key_);
  key_ = nullptr;
  std::string store = "VELMAR REGISTRY 1\n" + key_line(name_) + "\n\"Kept\"=dword:00000001\n" +
                      "\"Cut\"=dwo";
  write_file(root_ + "/registry.reg", store);
  HKEY key;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, name_.c_str(), 0, KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  DWORD type;
  std::vector<BYTE> data;
  EXPECT_EQ(get_value(key, TEXT("Kept"), &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, dword_bytes(1));
  EXPECT_EQ(get_value(key, TEXT("Cut"), &type, &data), ERROR_FILE_NOT_FOUND);
  /* The next change writes a whole, valid store again. */
  ASSERT_EQ(set_value(key, TEXT("New"), REG_DWORD, dword_bytes(2)), ERROR_SUCCESS);
  std::string text = read_file(root_ + "/registry.reg");
  EXPECT_EQ(plat::registry_store_parse(text.data(), text.size(), nullptr), text.size());
  EXPECT_NE(text.find("\"Kept\"=dword:00000001\n\"New\"=dword:00000002\n"), std::string::npos)
      << text;
  key_ = key;
}

TEST_F(Registry, FailedRewriteChangesNothing) {
  ASSERT_EQ(set_value(key_, TEXT("V"), REG_DWORD, dword_bytes(1)), ERROR_SUCCESS);
  /* A store that cannot be rewritten: a folder stands where its temporary file goes. */
  const std::string blocker = root_ + "/registry.reg.tmp";
  ASSERT_TRUE(std::filesystem::create_directory(blocker));
  EXPECT_EQ(set_value(key_, TEXT("V"), REG_DWORD, dword_bytes(2)), ERROR_CANTWRITE);
  EXPECT_EQ(RegDeleteValueW(key_, TEXT("V")), ERROR_CANTWRITE);
  HKEY key;
  EXPECT_EQ(RegCreateKeyExW(key_, TEXT("New"), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                            nullptr),
            ERROR_CANTWRITE);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, name_.c_str()), ERROR_CANTWRITE);
  DWORD type;
  std::vector<BYTE> data;
  EXPECT_EQ(get_value(key_, TEXT("V"), &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, dword_bytes(1)) << "the registry is still what the store holds";
  EXPECT_EQ(RegOpenKeyExW(key_, TEXT("New"), 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  ASSERT_TRUE(std::filesystem::remove(blocker));
  EXPECT_EQ(set_value(key_, TEXT("V"), REG_DWORD, dword_bytes(3)), ERROR_SUCCESS);
}

/* ---- Killed writers and other processes ---- */

int kill_stage = -1;

/* Makes the registry read the store again: the same folder, named another way. */
void reread_store(const std::string& root) {
  plat::set_device_root(plat::device_root() == root ? root + "/" : root);
}

void kill_at_stage(plat::RegistryWriteStage stage) {
  if ((int)stage == kill_stage) raise(SIGKILL);
}

/* Runs `body` in a child process; its exit status, or 128 + the signal that ended it. */
int in_child(const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::vector<BYTE> pattern(BYTE seed, size_t size) {
  std::vector<BYTE> data(size);
  for (size_t i = 0; i < size; i++) data[i] = (BYTE)(seed + i * 7);
  return data;
}

TEST_F(Registry, WriterKilledAtEveryStageLeavesOldOrNewStore) {
  const auto old_blob = pattern(1, 20000), new_blob = pattern(2, 20000);
  for (int stage = 0; stage < plat::REGISTRY_WRITE_STAGES; stage++) {
    SCOPED_TRACE(testing::Message() << "killed at stage " << stage);
    ASSERT_EQ(set_value(key_, TEXT("Blob"), REG_BINARY, old_blob), ERROR_SUCCESS);
    ASSERT_EQ(set_value(key_, TEXT("Other"), REG_DWORD, dword_bytes(7)), ERROR_SUCCESS);
    kill_stage = stage;
    int status = in_child([&] {
      plat::registry_set_write_hook(kill_at_stage);
      set_value(key_, TEXT("Blob"), REG_BINARY, new_blob);
      return 0;
    });
    kill_stage = -1;
    ASSERT_EQ(status, 128 + SIGKILL);
    reread_store(root_);
    std::string text = read_file(root_ + "/registry.reg");
    EXPECT_EQ(plat::registry_store_parse(text.data(), text.size(), nullptr), text.size());
    DWORD type;
    std::vector<BYTE> blob, other;
    EXPECT_EQ(get_value(key_, TEXT("Blob"), &type, &blob), ERROR_SUCCESS);
    EXPECT_EQ(blob, stage >= plat::REGISTRY_RENAMED ? new_blob : old_blob);
    EXPECT_EQ(get_value(key_, TEXT("Other"), &type, &other), ERROR_SUCCESS);
    EXPECT_EQ(other, dword_bytes(7));
  }
  /* A temporary file left by a killed writer does not stop the next one. */
  ASSERT_EQ(set_value(key_, TEXT("Blob"), REG_BINARY, {5}), ERROR_SUCCESS);
  std::vector<BYTE> blob;
  DWORD type;
  reread_store(root_);
  EXPECT_EQ(get_value(key_, TEXT("Blob"), &type, &blob), ERROR_SUCCESS);
  EXPECT_EQ(blob, std::vector<BYTE>{5});
}

TEST_F(Registry, WriterKilledAtRandomMomentsLeavesAWholeStore) {
  const auto blob = pattern(3, 50000);
  ASSERT_EQ(set_value(key_, TEXT("Blob"), REG_BINARY, blob), ERROR_SUCCESS);
  for (int round = 0; round < 6; round++) {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
      for (DWORD i = 0;; i++) set_value(key_, TEXT("Counter"), REG_DWORD, dword_bytes(i));
    }
    usleep(2000 + round * 7000);
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    std::string text = read_file(root_ + "/registry.reg");
    ASSERT_EQ(plat::registry_store_parse(text.data(), text.size(), nullptr), text.size())
        << "round " << round;
    DWORD type;
    std::vector<BYTE> data;
    EXPECT_EQ(get_value(key_, TEXT("Blob"), &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(data, blob);
  }
}

/* One byte through a pipe, to take turns with a child. */
void signal_pipe(int fd) {
  char c = 1;
  ASSERT_EQ(write(fd, &c, 1), 1);
}
bool wait_pipe(int fd) {
  char c;
  return read(fd, &c, 1) == 1;
}

TEST_F(Registry, OtherProcessesSeeChanges) {
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  /* The child starts before the value exists, with the registry already read. */
  DWORD size = 0;
  ASSERT_EQ(RegQueryValueExW(key_, TEXT("FromParent"), nullptr, nullptr, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    close(to_child[1]);
    if (!wait_pipe(to_child[0])) _exit(10);
    DWORD type;
    std::vector<BYTE> data;
    if (get_value(key_, TEXT("FromParent"), &type, &data) != ERROR_SUCCESS) _exit(11);
    if (data != dword_bytes(41)) _exit(12);
    if (set_value(key_, TEXT("FromChild"), REG_DWORD, dword_bytes(42)) != ERROR_SUCCESS) _exit(13);
    if (RegDeleteValueW(key_, TEXT("FromParent")) != ERROR_SUCCESS) _exit(14);
    char c = 1;
    _exit(write(to_parent[1], &c, 1) == 1 ? 0 : 15);
  }
  close(to_child[0]);
  close(to_parent[1]); /* the child's end: its exit ends the parent's wait */
  ASSERT_EQ(set_value(key_, TEXT("FromParent"), REG_DWORD, dword_bytes(41)), ERROR_SUCCESS);
  signal_pipe(to_child[1]);
  EXPECT_TRUE(wait_pipe(to_parent[0]));
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  DWORD type;
  std::vector<BYTE> data;
  EXPECT_EQ(get_value(key_, TEXT("FromChild"), &type, &data), ERROR_SUCCESS);
  EXPECT_EQ(data, dword_bytes(42));
  EXPECT_EQ(get_value(key_, TEXT("FromParent"), &type, &data), ERROR_FILE_NOT_FOUND);
  close(to_child[1]);
  close(to_parent[0]);
}

TEST_F(Registry, WritersInTwoProcessesLoseNothing) {
  const int kEach = 25;
  int start[2];
  ASSERT_EQ(pipe(start), 0);
  auto write_values = [&](const char* prefix) {
    for (int i = 0; i < kEach; i++) {
      WString name = widen(prefix + std::to_string(i));
      if (set_value(key_, name.c_str(), REG_DWORD, dword_bytes((DWORD)i)) != ERROR_SUCCESS) {
        return 1;
      }
    }
    return 0;
  };
  fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    if (!wait_pipe(start[0])) _exit(10);
    _exit(write_values("Child"));
  }
  signal_pipe(start[1]);
  EXPECT_EQ(write_values("Parent"), 0);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
  for (const char* prefix : {"Parent", "Child"}) {
    for (int i = 0; i < kEach; i++) {
      WString name = widen(prefix + std::to_string(i));
      DWORD type;
      std::vector<BYTE> data;
      EXPECT_EQ(get_value(key_, name.c_str(), &type, &data), ERROR_SUCCESS) << prefix << i;
      EXPECT_EQ(data, dword_bytes((DWORD)i)) << prefix << i;
    }
  }
  close(start[0]);
  close(start[1]);
}
#endif

}  // namespace
