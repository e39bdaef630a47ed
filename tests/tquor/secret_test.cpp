// The password must not survive in freed memory. Every block this program
// frees goes through the replacement operator delete below, which, while a
// scan is armed, counts the freed blocks that still hold the secret.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>

#include "QuorTest.h"

using fakeras::S;

namespace {

constexpr size_t kHeader = alignof(std::max_align_t) < 16 ? 16 : alignof(std::max_align_t);

std::atomic<bool> gArmed{false};
char gNeedle[64];
size_t gNeedleSize = 0;
std::atomic<int> gFound{0};

void* Allocate(size_t Size) {
  void* block = std::malloc(Size + kHeader);
  if (block == nullptr) throw std::bad_alloc();
  std::memcpy(block, &Size, sizeof Size);
  return static_cast<char*>(block) + kHeader;
}

void Release(void* P) noexcept {
  if (P == nullptr) return;
  char* block = static_cast<char*>(P) - kHeader;
  if (gArmed.load()) {
    size_t size;
    std::memcpy(&size, block, sizeof size);
    const char* data = static_cast<const char*>(P);
    if (std::search(data, data + size, gNeedle, gNeedle + gNeedleSize) != data + size) ++gFound;
  }
  std::free(block);
}

// Arms the scan for Secret (the password minus its first two characters,
// so that a buffer merely overwritten at its start still counts).
void Arm(const char* Secret) {
  gNeedleSize = std::strlen(Secret) - 2;
  std::memcpy(gNeedle, Secret + 2, gNeedleSize);
  gFound = 0;
  gArmed = true;
}

int Disarm() {
  gArmed = false;
  return gFound.load();
}

}  // namespace

void* operator new(size_t Size) {
  return Allocate(Size);
}
void* operator new[](size_t Size) {
  return Allocate(Size);
}
void* operator new(size_t Size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(Size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](size_t Size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(Size);
  } catch (...) {
    return nullptr;
  }
}
void operator delete(void* P) noexcept {
  Release(P);
}
void operator delete[](void* P) noexcept {
  Release(P);
}
void operator delete(void* P, size_t) noexcept {
  Release(P);
}
void operator delete[](void* P, size_t) noexcept {
  Release(P);
}
void operator delete(void* P, const std::nothrow_t&) noexcept {
  Release(P);
}
void operator delete[](void* P, const std::nothrow_t&) noexcept {
  Release(P);
}

TEST_F(QuorTest, PasswordLeavesNothingInFreedMemory) {
  const char secret[] = "S3cret-Passw0rd-of-some-length";
  // The scan must see the text library's blocks (it cannot where the text
  // code lives in another module with its own allocator).
  Arm(secret);
  {
    String probe(secret);
    probe += "!";
  }
  if (Disarm() == 0) GTEST_SKIP() << "freed blocks of the text library cannot be scanned here";

  std::strcpy(S().Stored.szPassword, secret);
  S().StoredPassword = TRUE;
  TQuor* q = new TQuor(nullptr);
  BindFakes(*q);
  q->SetEntryName("Office");
  Arm(secret);
  ASSERT_TRUE(q->GetDialParams(""));
  ASSERT_EQ(q->Password(), secret);
  q->SetPassword(std::string(300, 'x'));  // longer than any password: moves the buffer
  ASSERT_TRUE(q->GetDialParams(""));
  q->SetPassword("x");
  ASSERT_TRUE(q->GetDialParams(""));
  delete q;
  EXPECT_EQ(Disarm(), 0) << "freed blocks still holding the password";
  std::memset(S().Stored.szPassword, 0, sizeof(S().Stored.szPassword));
}
