// What runs when the shared library is loaded: the two mosaic settings are
// read from the application profile, and the "StackType" property name is
// registered. Static initialisers of the library run at load (process
// attach on Windows), before any caller can make a scope, so the settings
// keep one value for the life of the process.
#include "imgscope/contracts/foundation/prop_set.h"
#include "imgscope/contracts/platform/profile.h"
#include "imgscope/mosaic/mosaic_ids_internal.h"
#include "imgscope/mosaic/mosaic_scope.h"

namespace img {

namespace {

// The profile layer "user, then machine", no flags: passed as they stand.
constexpr int kProfileScope = 3;
constexpr int kProfileFlags = 0;

}  // namespace

// Any non-zero value keeps the mask in step; the number is kept as read.
int CMosaikScope::m_bSyncMask = appGetProfileInt(kProfileSection, kProfileSyncMask, 1, kProfileScope, kProfileFlags);
// Only exactly 1 chooses alpha channels over transparency masks.
bool CMosaikScope::m_bUseAlphaNoMask =
    appGetProfileInt(kProfileSection, kProfileUseAlphaNoMask, 0, kProfileScope, kProfileFlags) == 1;

namespace {

// A name registered twice the same way is accepted again; another owner of
// the ID or name leaves the register as it was. Either way loading goes on.
struct tRegisterStackType {
    tRegisterStackType() { utl::RegisterProperty(CString(kStackTypeName), kPropStackType, kStackTypeCode); }
};
const tRegisterStackType kRegisterStackType;

}  // namespace

}  // namespace img
