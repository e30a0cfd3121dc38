// The hot-plug monitor's thread, for tests: an application has no way to
// stop it but cancellation.
#pragma once

// Ends the monitor after its current wait (with nullptr); the caller joins.
void hotplug_monitor_stop();
