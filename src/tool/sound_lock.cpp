// sound_lock.cpp: the tool's lock hooks for the synthesizer. The live
// player pulls samples on the sound device's thread while the main thread
// changes songs, pauses and sets the volume; a mutex keeps the two apart.
// A render to a file runs on one thread and only ever finds it free.
#include <mutex>

#include "tunecast/chip.h"

namespace {
std::mutex sound_mutex;
}  // namespace

extern "C" void snd_lock(void) { sound_mutex.lock(); }
extern "C" void snd_unlock(void) { sound_mutex.unlock(); }
