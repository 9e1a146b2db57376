#pragma once
// Random bytes from the kernel (getrandom), for access tokens and identifiers. Any thread.
#include <cstddef>
#include <string>

namespace voryx {

// `size` random bytes; waits only before the kernel's pool is first ready (early boot).
std::string randomBytes(std::size_t size);

// A random (version 4, RFC 4122 variant) UUID in lower case:
// "xxxxxxxx-xxxx-4xxx-yxxx-xxxxxxxxxxxx".
std::string newUuid();

}  // namespace voryx
