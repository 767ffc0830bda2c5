#include "view/backend/units.hpp"

namespace kel::view::units {

double scale = 1.0;

}  // namespace kel::view::units
