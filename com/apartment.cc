// CoInitializeEx and CoUninitialize. Every apartment here is free-threaded, so the only state
// is how often each thread initialised and whether any thread of the process did: a thread
// that never called CoInitializeEx may still activate objects while another thread keeps the
// process's multithreaded apartment alive, as on Windows.
#include "com/apartment.h"

#include <atomic>

namespace hbt::com {
namespace {

struct ThreadState {
  int count = 0;
  DWORD model = 0;
};

thread_local ThreadState thread_state;
std::atomic<int> initialised_threads{0};

}  // namespace

bool apartment_initialised() { return thread_state.count > 0 || initialised_threads.load() > 0; }

}  // namespace hbt::com

using hbt::com::initialised_threads;
using hbt::com::thread_state;

extern "C" HRESULT CoInitializeEx(LPVOID, DWORD coinit) {
  DWORD model = coinit & COINIT_APARTMENTTHREADED;
  if (thread_state.count > 0) {
    if (thread_state.model != model) return RPC_E_CHANGED_MODE;
    ++thread_state.count;
    return S_FALSE;
  }
  thread_state.count = 1;
  thread_state.model = model;
  initialised_threads.fetch_add(1);
  return S_OK;
}

extern "C" HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }

extern "C" void CoUninitialize() {
  if (thread_state.count == 0) return;
  if (--thread_state.count == 0) initialised_threads.fetch_sub(1);
}
