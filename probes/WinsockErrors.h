// The socket error numbers and texts users see. The numbers are those of Windows Sockets,
// so a message reads the same whichever system the monitor runs on: a refused connection
// is '10061:Connection refused' everywhere.
#pragma once

#include <string>

// Would-block: "try again", never an error of its own.
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaNotConnected = 10057;
inline constexpr int kWsaMessageTooLong = 10040;

// The text of a socket error number; "Unknown Error No. " and the number for one not known.
std::string winsockErrorText(int code);

// Errors of the system without a Windows Sockets number are numbered from here on, far above
// the table, and read as the system's own text.
inline constexpr int kSystemErrorBase = 20000;

// The number of a system error (errno). EAGAIN and EINPROGRESS become would-block; an error
// without a counterpart becomes kSystemErrorBase + its value.
int winsockCodeOf(int systemError);

// What an ESocketError carries: the number, a colon and the text, e.g. '10054:Connection
// reset by peer' or '20071:Protocol error'; an unknown number gives only "Unknown Error No. "
// and the number.
std::string socketErrorMessage(int code);
