// Reporting programming errors of interface registration (a name registered
// with two versions): a debug assertion and a log line.
#pragma once

// Where the log line goes. Each image has its own sink; the default writes
// to the debugger output. The host points it at its log, tests capture it.
// Null restores the default.
using InterfaceErrorSink = void (*)(const char* pszText);
void SetInterfaceErrorSink(InterfaceErrorSink sink);

// Raises the debug assertion and writes the line through the sink.
void ReportInterfaceError(const char* pszText);
