// The exported entry of DUNZIP32.DLL / libdunzip32.so. Nothing may unwind
// into the caller's frames, so everything ends in RunCommand's catch-all.
#include "dunzip/dunzip_api.h"
#include "dunzip/extract.h"
#include "platform/fault.h"

std::int32_t DUNZIP_CALL dunzip::dunzip(void *command) {
  return RunCommand(command);
}

void DUNZIP_CALL dunzip::dunzipTestFollowFaults(const void *hooks) {
  if (hooks != nullptr)
    platform::fault::Follow(*static_cast<const platform::fault::THooks *>(hooks));
}
