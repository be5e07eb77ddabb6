#include "key.h"

#include <ostream>

namespace brindle {

std::ostream& operator<<(std::ostream& out, const Key& key) { return out << key.view(); }

}  // namespace brindle
