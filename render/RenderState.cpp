#include "render/RenderState.h"

namespace chimora {

QString RingtoneFile;
HSTREAM EncodeStream = 0;

} // namespace chimora
