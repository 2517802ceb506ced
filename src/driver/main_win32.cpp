#include <new>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "system/messages.h"
#include "system/wide_win32.h"

// The wide entry point: the arguments arrive as UTF-16, whatever the ANSI code page, and are
// handled as UTF-8 from here on.
int wmain(int argc, wchar_t** argv) {
  try {
    std::vector<std::string> arguments;
    std::vector<const char*> pointers;
    arguments.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
      const std::wstring_view argument = argv[i];
      arguments.push_back(kvowrapper::fromWide(argument));
      pointers.push_back(arguments.back().c_str());
    }
    pointers.push_back(nullptr);
    return kvowrapper::runWrapper(argc, pointers.data());
  } catch (const std::bad_alloc&) {
    kvowrapper::report(kvowrapper::Message::kOutOfMemory);
    return 1;
  }
}
