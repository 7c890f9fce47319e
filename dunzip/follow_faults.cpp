// The extra entry of the library's test variant: its file operations count
// and fail through the caller's fault hooks (a platform::fault::THooks of
// the same build). Needed where the library carries its own copy of the
// platform seam (Windows); the shipped library exports only "dunzip".
#include "dunzip/dunzip_api.h"
#include "platform/fault.h"

extern "C" DUNZIP_EXPORT void DUNZIP_CALL dunzipTestFollowFaults(const void *hooks) {
  if (hooks != nullptr)
    platform::fault::Follow(*static_cast<const platform::fault::THooks *>(hooks));
}
