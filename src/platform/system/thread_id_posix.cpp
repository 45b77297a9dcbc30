#include <unistd.h>

#include "platform/etw_api.h"

DWORD WINAPI GetCurrentThreadId() {
    return static_cast<DWORD>(gettid());
}
