// The number of descriptors the process may hold. Every check that runs beside others holds
// a socket, a pinger and a service connection of its own: 256 checks at once need about
// 1,300, more than a session's usual soft limit of 1,024.
#pragma once

// Raises the soft limit on open descriptors to 8,192, or to the hard limit when that is
// lower. Nothing here waits on descriptors with select(), so high numbers are safe.
void raiseOpenFileLimit();
