/* The operator's commands: the grammar and what each command does. */
#include "dtmf_commands.h"

#include <string.h>

#include "ini_writer.h"
#include "module_path.h"
#include "nav_stack.h"
#include "pages.h"
#include "shell_globals.h"
#include "vx_alloc.h"

namespace {

const WCHAR kConfigName[] = TEXT("config.ini");
const WCHAR kSection[] = TEXT("CONFIG");
const int kPathSize = 260;
/* Payload positions of command 2. */
const int kFirstSign = 3;
const int kFirstDigits = 4;
const int kFirstDigitCount = 7;
const int kSecondSign = 11;
const int kSecondDigits = 12;
const double kUnit = 0.0001;

volatile DWORD call_back_poll_ms = 1000;

bool is_digit(WCHAR c) { return c >= TEXT('0') && c <= TEXT('9'); }

/* Positive unless a sign character is present and is not "0"; a message that
 * ends before the sign has no number there, and 0 has no sign. */
double sign_at(const WCHAR* message, int length, int position) {
  if (position >= length) return 1.0;
  return message[position] == TEXT('0') ? 1.0 : -1.0;
}

/* The decimal value of at most `count` digits from `position`, stopping at a
 * non-digit or the end. Kept in a double: the second number may be longer
 * than any integer type holds. */
double digits_at(const WCHAR* message, int length, int position, int count) {
  double value = 0.0;
  for (int i = position; i < length && i - position < count && is_digit(message[i]); ++i)
    value = value * 10.0 + (double)(message[i] - TEXT('0'));
  return value;
}

double coordinate(double sign, double digits) {
  /* No negative zero: it would print as "-0.000000". */
  if (digits == 0.0) return 0.0;
  return digits * sign * kUnit;
}

/* Rewrites of config.ini take the writer's own lock of the file. */
void write_config(const WCHAR* key, const WCHAR* value) {
  WCHAR path[kPathSize];
  if (module_file_path(path, kPathSize, NULL, kConfigName) != 0) return;
  ini_write_string(kSection, key, value, path);
}

bool call_page_current(void) {
  int id = vx_page_current_id(page_manager);
  return id == PAGE_DIALING || id == PAGE_IN_CALL || id == PAGE_INCOMING_CALL;
}

/* Command 6: once the current call's pages are left, dial the number. */
void call_back(const WCHAR* number) {
  while (call_page_current()) Sleep(call_back_poll_ms);
  Sleep(call_back_poll_ms);
  wcsncpy(call_info.number, number, CALL_NUMBER_SIZE - 1);
  call_info.number[CALL_NUMBER_SIZE - 1] = 0;
  /* The mode before the switch: entering the dialing page reads it. */
  call_info.mode = CALL_MODE_NUMBER;
  nav_push(PAGE_DIALING, 0);
}

DWORD WINAPI owned_command_thread(LPVOID message) {
  dtmf_run_command((const WCHAR*)message);
  vx_mem_free(message);
  return 0;
}

}  // namespace

int dtmf_command_number(const WCHAR* message) {
  if (!message) return 0;
  int value = 0;
  for (const WCHAR* p = message; is_digit(*p); ++p) {
    /* Saturates: such a number names no command. */
    if (value > 100000000) return 100000000;
    value = value * 10 + (*p - TEXT('0'));
  }
  return value;
}

int dtmf_command_well_formed(const WCHAR* message) {
  if (!message) return 0;
  return is_digit(message[0]) && is_digit(message[1]) && message[2] == TEXT('#');
}

int dtmf_parse_destination(const WCHAR* message, DestinationRecord* out) {
  if (!message || !out) return -1;
  int length = (int)wcslen(message);
  out->first = coordinate(sign_at(message, length, kFirstSign),
                          digits_at(message, length, kFirstDigits, kFirstDigitCount));
  out->second = coordinate(sign_at(message, length, kSecondSign),
                           digits_at(message, length, kSecondDigits, length));
  return 0;
}

int dtmf_run_command(const WCHAR* message) {
  if (!message) return 0;
  WCHAR text[DTMF_MESSAGE_SIZE];
  wcsncpy(text, message, DTMF_MESSAGE_SIZE - 1);
  text[DTMF_MESSAGE_SIZE - 1] = 0;
  if (!dtmf_command_well_formed(text)) return 0;
  const WCHAR* payload = text + 3;
  switch (dtmf_command_number(text)) {
    case DTMF_COMMAND_DESTINATION:
      dtmf_parse_destination(text, &destination_record);
      nav_launch(&destination_record);
      break;
    case DTMF_COMMAND_CENTER_NUMBER:
      write_config(TEXT("CENTER_NUMBER"), payload);
      break;
    case DTMF_COMMAND_RECALL_NUMBER:
      write_config(TEXT("RECALL_NUMBER"), payload);
      break;
    case DTMF_COMMAND_GZDTMF_NUMBER:
      write_config(TEXT("GZDTMF_NUMBER"), payload);
      break;
    case DTMF_COMMAND_CALL_BACK:
      call_back(payload);
      break;
    default:
      break;
  }
  return 0;
}

DWORD WINAPI dtmf_command_thread(LPVOID message) {
  return (DWORD)dtmf_run_command((const WCHAR*)message);
}

int dtmf_start_command(const WCHAR* message) {
  if (!message) return -1;
  size_t length = wcslen(message);
  if (length > DTMF_MESSAGE_SIZE - 1) length = DTMF_MESSAGE_SIZE - 1;
  WCHAR* copy = (WCHAR*)vx_mem_alloc((length + 1) * sizeof(WCHAR), __FILE__, __LINE__);
  if (!copy) return -1;
  memcpy(copy, message, length * sizeof(WCHAR));
  copy[length] = 0;
  HANDLE thread = CreateThread(NULL, 0, owned_command_thread, copy, 0, NULL);
  if (!thread) {
    vx_mem_free(copy);
    return -1;
  }
  CloseHandle(thread);
  return 0;
}

void dtmf_set_call_back_poll_ms(DWORD ms) { call_back_poll_ms = ms; }
