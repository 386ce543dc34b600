// Requests from outside the program to end it (POSIX: SIGTERM, SIGINT, SIGHUP), turned
// into something an event loop can wait on, so the program ends the orderly way (the
// block's last value vsClosed) instead of vanishing mid-run. One backend per operating
// system (posix/, win32/); callers only see this interface.
#pragma once

namespace lvplatform {

// Starts catching the end requests (a request the process was started to ignore stays
// ignored) and returns a descriptor that becomes readable once one has arrived, or -1
// when the platform has none to offer. Call once.
int WatchEndRequests();

// Takes the pending requests from the descriptor; returns the last one's number, 0 when
// none was pending.
int TakeEndRequest();

} // namespace lvplatform
