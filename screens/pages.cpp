#include "pages.h"

int pages_register_all(void) {
  typedef int (*RegisterFn)(void);
  static const RegisterFn registrations[PAGE_COUNT] = {
      desktop_page_register,       tools_page_register,         incoming_call_page_register,
      dialing_page_register,       in_call_page_register,       recall_prompt_page_register,
      media_page_register,         no_phone_page_register,      games_page_register,
      spare_page_register,         service_numbers_page_register, number_entry_page_register,
  };
  int result = 0;
  for (RegisterFn registration : registrations)
    if (registration() != 1) result = -1;
  return result;
}
