// Wiping memory that held a secret, in a way the compiler may not leave out.
#include "CApi/CApiInternal.h"

namespace quorc {

void Wipe(void* Area, size_t Size) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(Area);
  while (Size-- > 0) *p++ = 0;
}

void WipeText(String& Text) {
  Wipe(Text.data(), Text.capacity());
  Text.clear();
}

}  // namespace quorc
