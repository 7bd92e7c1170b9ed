// Waiting on the dialog thread without freezing its windows.
#pragma once

// Waits up to timeoutMs for handle (null: only the time passes) while the
// calling thread's window messages are dispatched as they arrive, a dialog's
// keyboard messages through its dialog manager. True when the handle was
// signalled. A quit message ends the dispatching and is posted again after.
bool WaitDispatchingMessages(void* handle, unsigned long timeoutMs);
