// The platform's sleep. Every fixed wait of the system (settle times, guard
// silences, restart waits) goes through sleepMs so that a test can scale the
// clock down without changing the constants themselves.
#pragma once

namespace kx {

// Sleeps ms milliseconds multiplied by the clock scale (1.0 unless a test set it).
void sleepMs(int ms);

// Scales every later sleepMs; 1.0 restores real time. Tests only.
void setClockScale(double scale);
double clockScale();

// Milliseconds on a monotonic clock, for bounds and measurements.
long long monotonicMs();

}  // namespace kx
