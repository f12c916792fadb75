/* Fuzz target: the operator's message parser and command handler on any
 * text. The first byte picks the alphabet: the DTMF keys (what the detector
 * delivers), or raw UTF-16 units. The handler stays inside the message (the
 * message is a heap block of its exact size), coordinates stay in their
 * range, and commands 3-5 store the payload as it stands. */
#include <windows.h>

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include "dtmf_commands.h"
#include "ini_reader.h"
#include "plat/host.h"
#include "shell_globals.h"

static void prepare_device() {
  static bool ready = false;
  if (ready) return;
  ready = true;
  char pattern[] = "/tmp/velmar-fuzz-commands-XXXXXX";
  if (!mkdtemp(pattern)) abort();
  std::string root = pattern;
  plat::set_device_root(root);
  plat::set_module_path(u"\\Velmar.exe");
  if (system(("mkdir -p " + root + "/Navi").c_str()) != 0) abort();
  std::ofstream(root + "/Navi/Navi.exe") << "marker";
  dtmf_set_call_back_poll_ms(0);
  debug_level = 0;
}

static void write_config() {
  std::ofstream out(plat::device_root() + "/config.ini", std::ios::binary | std::ios::trunc);
  out << "[CONFIG]\r\nNAVI1=\\Navi\\Navi.exe\r\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  prepare_device();
  if (size < 1 || size > 1200) return 0;
  static const char keys[] = "0123456789*#ABCD";
  bool key_alphabet = (data[0] & 1) == 0;
  size_t length = key_alphabet ? size - 1 : (size - 1) / 2;
  WCHAR* message = (WCHAR*)malloc((length + 1) * sizeof(WCHAR));
  for (size_t i = 0; i < length; ++i)
    message[i] = key_alphabet ? (WCHAR)keys[data[1 + i] & 15]
                              : (WCHAR)(data[1 + 2 * i] | data[2 + 2 * i] << 8);
  message[length] = 0;

  int number = dtmf_command_number(message);
  if (number < 0) abort();
  DestinationRecord record;
  if (dtmf_parse_destination(message, &record) != 0) abort();
  if (!(fabs(record.first) <= 999.99995)) abort();
  if (isnan(record.second)) abort();

  write_config();
  dtmf_run_command(message);
  if (key_alphabet && dtmf_command_well_formed(message) && number >= 3 && number <= 5 &&
      length > 3) {
    static const WCHAR* const names[] = {u"CENTER_NUMBER", u"RECALL_NUMBER", u"GZDTMF_NUMBER"};
    WCHAR stored[300];
    ini_read_string(u"CONFIG", names[number - 3], u"", stored, 300, u"\\config.ini");
    size_t payload = length - 3 < DTMF_MESSAGE_SIZE - 4 ? length - 3 : DTMF_MESSAGE_SIZE - 4;
    if (wcslen(stored) != payload || memcmp(stored, message + 3, payload * sizeof(WCHAR)) != 0)
      abort();
  }
  free(message);
  return 0;
}
