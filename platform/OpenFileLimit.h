// The number of descriptors the process may hold. Every check that runs beside others holds
// a socket, a pinger and a service connection of its own, some ten descriptors while it
// runs: 256 checks at once need about 2,600, more than a session's usual soft limit of 1,024.
#pragma once

#include <cstddef>
#include <optional>

// Raises the soft limit on open descriptors to 8,192, or to the hard limit when that is
// lower. Nothing here waits on descriptors with select(), so high numbers are safe.
void raiseOpenFileLimit();

// The soft limit the program was started with, when raiseOpenFileLimit has changed it:
// children get it back, since programs that use select() cannot take descriptors above
// 1,023. Nothing when the limit is still the one the program was given.
std::optional<unsigned long> startingOpenFileLimit();

// How many descriptors the process holds now.
std::size_t openDescriptorCount();

// How many more descriptors may be opened while a quarter of the soft limit stays free for
// the log file, the mail client, name lookups and the like.
std::size_t spareDescriptors();
