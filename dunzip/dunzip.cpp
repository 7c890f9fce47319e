// The exported entry of DUNZIP32.DLL / libdunzip32.so. Nothing may unwind
// into the caller's frames, so everything ends in RunCommand's catch-all.
#include "dunzip/dunzip_api.h"
#include "dunzip/extract.h"

std::int32_t DUNZIP_CALL dunzip::dunzip(void *command) {
  return RunCommand(command);
}
