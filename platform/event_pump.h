// The single-threaded event pump. Socket notifications, lookup completions, timer ticks
// and user input are all events of the main thread; the socket layer's waits run them
// through these calls.
#pragma once

namespace platform {

// Chooses the event dispatcher that the application object will run on; called before it
// is made (EnsureApplication does so itself). The pump runs on the toolkit's own POSIX
// dispatcher rather than the GLib one: a pass is then one poll of the watched handles
// without GLib's source bookkeeping, and an upload runs a pass after every 64 KiB block.
// Windows has only the one dispatcher, which also pumps the thread's window messages.
void ChooseEventDispatcher();

// Makes sure an application object exists for the calling (main) thread. The windows
// create their own; tests and tools without windows call this once.
void EnsureApplication();

// One pass of the pump: handles every event that is pending now, then returns.
void ProcessMessages();

// Blocks in the event dispatcher until at least one event has been handled or
// `maxMilliseconds` have passed, whichever comes first. Never spins: with nothing to do
// the thread sleeps in the dispatcher.
void WaitForEvents(int maxMilliseconds);

} // namespace platform
