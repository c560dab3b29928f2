#include "platform/system_code_page.h"

#include <windows.h>

namespace sentrel {

int SystemCodePage() { return static_cast<int>(GetACP()); }

}  // namespace sentrel
