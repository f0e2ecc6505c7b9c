// Month names of the C locale, for platforms without a locale service of their own.
#pragma once

#include <string>

namespace os {

inline std::string english_month_name(int month) {
  static const char* const names[] = {"January",   "February", "March",    "April",
                                      "May",       "June",     "July",     "August",
                                      "September", "October",  "November", "December"};
  return month >= 1 && month <= 12 ? names[month - 1] : "";
}

}  // namespace os
